# The installed program folder. The system runs from one folder that holds
# its programs and everything they read (the program folder is the folder of
# the executable), so the install prefix is that folder, not a bin/ and
# share/ tree:
#
#   cmake --install BUILD --prefix DIR                      programs and desktop files
#   cmake --install BUILD --prefix DIR --component demo     the demo data as well
#
# Components: programs (Velmora, Quennar, velmora-cli and any other program
# registered below), desktop (the menu entry and icons under DIR/share/),
# demo (the demo folder's data; part of the default install only with
# -DVELMORA_INSTALL_DEMO=ON).

option(VELMORA_INSTALL_DEMO "Install the demo data with the programs" OFF)

# Installing copies what the build made and builds nothing itself (so CPack
# does not build every test first): build the programs, the demo folder and
# the icons before (scripts/install.sh does).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

# The programs link the project's libraries statically and the rest from the
# system, so an installed program needs no runtime path: none is written, and
# the build tree's is dropped on install.
set(CMAKE_SKIP_INSTALL_RPATH ON)

# velmora_install_program(TARGET): installs a program into the program folder
# and records it in the global property VELMORA_PROGRAMS (the install test
# checks that each is there and runs).
function(velmora_install_program target)
  install(TARGETS ${target} RUNTIME DESTINATION . COMPONENT programs)
  set_property(GLOBAL APPEND PROPERTY VELMORA_PROGRAMS ${target})
endfunction()

# velmora_install_demo_files(ROOT FILE...): installs files of the demo folder
# ROOT into the program folder, keeping their places below ROOT.
function(velmora_install_demo_files root)
  set(_exclude)
  if(NOT VELMORA_INSTALL_DEMO)
    set(_exclude EXCLUDE_FROM_ALL)
  endif()
  foreach(_file IN LISTS ARGN)
    file(RELATIVE_PATH _rel ${root} ${_file})
    get_filename_component(_dir "${_rel}" DIRECTORY)
    if(_dir STREQUAL "")
      set(_dir .)
    endif()
    install(FILES ${_file} DESTINATION "${_dir}" COMPONENT demo ${_exclude})
  endforeach()
endfunction()
