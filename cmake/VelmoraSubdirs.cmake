# Adds each listed folder that carries a CMakeLists.txt, so that the parts of the
# system can be built up one folder at a time.
function(velmora_add_subdirs)
  foreach(dir IN LISTS ARGN)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      add_subdirectory(${dir})
    endif()
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
