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

# velmora_beside_reader(TARGET): a program that opens libraries starts the
# reading program (velmora-jet-reader) found beside its own executable; in the
# build tree the reader is copied next to it. Installed programs find the
# installed reader the same way, and no build path is compiled into them.
function(velmora_beside_reader target)
  if(TARGET velmora-jet-reader)
    add_dependencies(${target} velmora-jet-reader)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:velmora-jet-reader> $<TARGET_FILE_DIR:${target}>
      VERBATIM)
  endif()
endfunction()

# velmora_test(NAME sources... LIBS libs... [CACHE_BOTH_WAYS]): one GoogleTest executable,
# registered with ctest. No test writes into the user's cache folder: every test
# has XDG_CACHE_HOME in the build folder, where the library cache (bounded) goes.
# CACHE_BOTH_WAYS registers the tests a second time, prefixed "nocache.", with the
# library cache switched off, so that their results are checked both ways.
function(velmora_test name)
  cmake_parse_arguments(VT "CACHE_BOTH_WAYS" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${VT_SOURCES})
  target_link_libraries(${name} PRIVATE ${VT_LIBS} GTest::gtest GTest::gtest_main)
  velmora_beside_reader(${name})
  set(env "QT_QPA_PLATFORM=offscreen;XDG_CACHE_HOME=${CMAKE_BINARY_DIR}/test-cache;VELMORA_CACHE_LIMIT_MB=256")
  velmora_discover(${name} "" "${VT_LABELS}" "${env}")
  if(VT_CACHE_BOTH_WAYS)
    velmora_discover(${name} nocache. "${VT_LABELS}" "${env};VELMORA_NO_CACHE=1")
  endif()
endfunction()

# Registers the tests of `target` (named with `prefix`) and gives them `env`. The
# environment is set by a script that ctest reads after the discovered tests:
# gtest_discover_tests splits a list given to ENVIRONMENT into separate words.
function(velmora_discover target prefix labels env)
  set(list ${target}_${prefix}TESTS)
  string(MAKE_C_IDENTIFIER "${list}" list)
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 TEST_PREFIX "${prefix}" TEST_LIST ${list}
    PROPERTIES LABELS "${labels}")
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${list}_environment.cmake)
  file(WRITE ${script}
    "foreach(t IN LISTS ${list})\n  set_tests_properties(\"\${t}\" PROPERTIES ENVIRONMENT \"${env}\")\nendforeach()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
endfunction()
