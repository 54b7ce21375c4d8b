# Adds each listed folder. Every folder listed must carry its CMakeLists.txt:
# a folder named here without one is a mistake (a file left out of a commit,
# a name mistyped), and a build that skipped it would quietly lack a part.
function(velmora_add_subdirs)
  foreach(dir IN LISTS ARGN)
    if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      message(FATAL_ERROR
        "${CMAKE_CURRENT_SOURCE_DIR}/${dir} is listed for the build but has no CMakeLists.txt")
    endif()
    add_subdirectory(${dir})
  endforeach()
endfunction()

# velmora_test(NAME sources... LIBS libs...): one GoogleTest executable, registered with ctest.
function(velmora_test name)
  cmake_parse_arguments(VT "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${VT_SOURCES})
  target_link_libraries(${name} PRIVATE ${VT_LIBS} GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${VT_LABELS}" ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
