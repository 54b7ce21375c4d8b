# The layer rules of the source tree, read from the #include lines of src/,
# tools/ and bench/ (no build needed):
#   common uses nothing above it; platform only common; data only platform
#   and common; price_tools no window (price_windows, main_window,
#   service_window, updater, programs); main_window no price window; updater
#   neither data nor main_window; nothing but a program's own folder includes
#   programs/; and no folder includes another folder that includes it back,
#   directly or around a longer loop.
#
#   cmake -DROOT=<source tree> -P include_rules.cmake      checks a tree
#   cmake -DSCRATCH=<empty dir> -P include_rules.cmake     checks the checker:
#       a clean scratch tree passes, and each planted wrong include is named
#
# A quoted include is looked up beside the including file, then under src/,
# tools/, bench/ and tests/ of the tree; one found nowhere (a system or
# generated header) is no arrow. A folder is src/LAYER/PART (src/LAYER for
# files directly in it), tools/NAME or bench/NAME.
cmake_minimum_required(VERSION 3.20)

# The folder of a file given relative to the tree.
function(_ir_folder rel out)
  string(REPLACE "/" ";" parts "${rel}")
  list(LENGTH parts n)
  list(GET parts 0 top)
  if(top STREQUAL "src" AND n GREATER 3)
    list(SUBLIST parts 0 3 head)
  else()
    list(SUBLIST parts 0 2 head)
  endif()
  list(LENGTH head hn)
  if(hn EQUAL n)  # a file directly under src/, tools/ or bench/
    list(SUBLIST parts 0 1 head)
  endif()
  string(REPLACE ";" "/" folder "${head}")
  set(${out} "${folder}" PARENT_SCOPE)
endfunction()

# The layer of a folder: the folder under src/, or "" outside src/.
function(_ir_layer folder out)
  set(layer "")
  if(folder MATCHES "^src/([^/]+)")
    set(layer "${CMAKE_MATCH_1}")
  endif()
  set(${out} "${layer}" PARENT_SCOPE)
endfunction()

# The layers a layer must not include; "*" : any but its own and those in ALLOWED_<layer>.
set(_IR_ALLOWED_common common)
set(_IR_ALLOWED_platform platform common)
set(_IR_ALLOWED_data data platform common)
set(_IR_FORBIDDEN_price_tools price_windows main_window service_window updater programs)
set(_IR_FORBIDDEN_main_window price_windows programs)
set(_IR_FORBIDDEN_updater data main_window programs)
set(_IR_FORBIDDEN_service_window programs)
set(_IR_FORBIDDEN_price_windows programs)

function(_ir_layer_allows from to out)
  set(ok TRUE)
  if(NOT from STREQUAL "" AND NOT to STREQUAL "" AND NOT from STREQUAL to)
    if(DEFINED _IR_ALLOWED_${from})
      if(NOT to IN_LIST _IR_ALLOWED_${from})
        set(ok FALSE)
      endif()
    elseif(to IN_LIST _IR_FORBIDDEN_${from})
      set(ok FALSE)
    endif()
  endif()
  set(${out} ${ok} PARENT_SCOPE)
endfunction()

# Every broken rule of the tree at `root`, one text per line, into `out`.
function(velmora_include_violations root out)
  set(problems "")
  set(folders "")
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${root}"
       "${root}/src/*.h" "${root}/src/*.cpp" "${root}/src/*.inc"
       "${root}/tools/*.h" "${root}/tools/*.cpp" "${root}/bench/*.h" "${root}/bench/*.cpp")
  list(SORT files)
  foreach(rel IN LISTS files)
    get_filename_component(dir "${rel}" DIRECTORY)
    _ir_folder("${rel}" from)
    _ir_layer("${from}" fromLayer)
    file(STRINGS "${root}/${rel}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS lines)
      if(NOT line MATCHES "include[ \t]*\"([^\"]+)\"")
        continue()
      endif()
      set(inc "${CMAKE_MATCH_1}")
      set(target "")
      foreach(base IN ITEMS "${dir}" src tools bench tests)
        if(EXISTS "${root}/${base}/${inc}" AND NOT IS_DIRECTORY "${root}/${base}/${inc}")
          file(REAL_PATH "${root}/${base}/${inc}" abs)
          file(REAL_PATH "${root}" rootAbs)
          file(RELATIVE_PATH target "${rootAbs}" "${abs}")
          break()
        endif()
      endforeach()
      if(target STREQUAL "" OR target MATCHES "^\\.\\.")
        continue()
      endif()
      _ir_folder("${target}" to)
      if(to STREQUAL from)
        continue()
      endif()
      _ir_layer("${to}" toLayer)
      _ir_layer_allows("${fromLayer}" "${toLayer}" ok)
      if(NOT ok)
        list(APPEND problems "${rel}: ${fromLayer} must not include ${toLayer} (\"${inc}\")")
      endif()
      string(MAKE_C_IDENTIFIER "${from}" fromId)
      if(NOT "${to}" IN_LIST _ir_edges_${fromId})
        list(APPEND _ir_edges_${fromId} "${to}")
        string(MAKE_C_IDENTIFIER "_ir_via_${fromId}_${to}" viaId)
        set(${viaId} "${rel} includes \"${inc}\"")
      endif()
      list(APPEND folders "${from}" "${to}")
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES folders)

  # Loops between folders: take away, again and again, every folder that
  # includes no folder left; what stays lies on a loop or leads into one.
  set(left ${folders})
  set(changed TRUE)
  while(changed)
    set(changed FALSE)
    set(next "")
    foreach(f IN LISTS left)
      string(MAKE_C_IDENTIFIER "${f}" fId)
      set(reaches FALSE)
      foreach(t IN LISTS _ir_edges_${fId})
        if(t IN_LIST left)
          set(reaches TRUE)
          break()
        endif()
      endforeach()
      if(reaches)
        list(APPEND next "${f}")
      else()
        set(changed TRUE)
      endif()
    endforeach()
    set(left ${next})
  endwhile()
  # Of those, the folders that can come back to themselves, each loop named by
  # its arrows.
  foreach(f IN LISTS left)
    string(MAKE_C_IDENTIFIER "${f}" fId)
    foreach(t IN LISTS _ir_edges_${fId})
      if(NOT t IN_LIST left)
        continue()
      endif()
      # Is f reachable back from t? A walk over the folders left.
      set(seen "${t}")
      set(queue "${t}")
      set(back FALSE)
      while(queue AND NOT back)
        list(POP_FRONT queue cur)
        string(MAKE_C_IDENTIFIER "${cur}" cId)
        foreach(n IN LISTS _ir_edges_${cId})
          if(n STREQUAL f)
            set(back TRUE)
            break()
          endif()
          if(n IN_LIST left AND NOT n IN_LIST seen)
            list(APPEND seen "${n}")
            list(APPEND queue "${n}")
          endif()
        endforeach()
      endwhile()
      if(back)
        string(MAKE_C_IDENTIFIER "_ir_via_${fId}_${t}" viaId)
        list(APPEND problems "${f} and ${t} include each other (around a loop): ${${viaId}}")
      endif()
    endforeach()
  endforeach()
  set(${out} "${problems}" PARENT_SCOPE)
endfunction()

# --- the checker's own check on scratch trees ---------------------------------
function(_ir_write root rel text)
  file(WRITE "${root}/${rel}" "${text}\n")
endfunction()

# A small tree that keeps every rule.
function(_ir_clean_tree root)
  file(REMOVE_RECURSE "${root}")
  _ir_write("${root}" src/common/text.h "#pragma once")
  _ir_write("${root}" src/platform/grid/grid.h "#include \"common/text.h\"")
  _ir_write("${root}" src/platform/grid/grid.cpp "#include \"grid.h\"\n#include <vector>\n#include \"moc_grid.cpp\"")
  _ir_write("${root}" src/data/browse.h "#include \"platform/grid/grid.h\"")
  _ir_write("${root}" src/price_tools/months/months.h "#include \"data/browse.h\"")
  _ir_write("${root}" src/main_window/frmeq.h "#include \"data/browse.h\"")
  _ir_write("${root}" src/price_windows/host.h "#include \"platform/grid/grid.h\"")
  _ir_write("${root}" src/price_windows/band/band.cpp "#include \"price_windows/host.h\"\n#include \"price_tools/months/months.h\"")
  _ir_write("${root}" src/updater/main.cpp "#include \"platform/grid/grid.h\"")
  _ir_write("${root}" src/programs/velmora/main.cpp "#include \"main_window/frmeq.h\"\n#include \"price_windows/host.h\"")
  _ir_write("${root}" tools/cli/main.cpp "#include \"price_tools/months/months.h\"\n#include \"jet/writer.h\"")
  _ir_write("${root}" tools/jet/writer.h "#include \"common/text.h\"\n#include \"fmt/fmt.h\"")
  _ir_write("${root}" tools/fmt/fmt.h "#pragma once")
  _ir_write("${root}" bench/grid/bench.cpp "#include \"jet/writer.h\"\n#include \"../../tests/support/s.h\"")
  _ir_write("${root}" tests/support/s.h "#include \"common/text.h\"")
endfunction()

function(_ir_expect root planted_file planted_line expected)
  _ir_clean_tree("${root}")
  if(NOT planted_file STREQUAL "")
    file(APPEND "${root}/${planted_file}" "${planted_line}\n")
  endif()
  velmora_include_violations("${root}" found)
  if(expected STREQUAL "")
    if(NOT found STREQUAL "")
      message(SEND_ERROR "the clean tree was refused: ${found}")
    endif()
    return()
  endif()
  set(named FALSE)
  foreach(problem IN LISTS found)
    if(problem MATCHES "${expected}")
      set(named TRUE)
    endif()
  endforeach()
  if(NOT named)
    message(SEND_ERROR "planted ${planted_line} in ${planted_file}: expected a problem matching '${expected}', got: ${found}")
  endif()
endfunction()

if(DEFINED SCRATCH)
  set(t "${SCRATCH}/tree")
  _ir_expect("${t}" "" "" "")
  _ir_expect("${t}" src/common/text.h "#include \"platform/grid/grid.h\""
             "^src/common/text.h: common must not include platform")
  _ir_expect("${t}" src/common/text.h "#include \"../data/browse.h\""
             "^src/common/text.h: common must not include data")  # found beside the file
  _ir_expect("${t}" src/platform/grid/grid.cpp "#include \"data/browse.h\""
             "platform must not include data")
  _ir_expect("${t}" src/data/browse.h "#include \"price_tools/months/months.h\""
             "data must not include price_tools")
  _ir_expect("${t}" src/price_tools/months/months.h "#include \"price_windows/host.h\""
             "price_tools must not include price_windows")
  _ir_expect("${t}" src/price_tools/months/months.h "#include \"main_window/frmeq.h\""
             "price_tools must not include main_window")
  _ir_expect("${t}" src/main_window/frmeq.h "#include \"price_windows/host.h\""
             "main_window must not include price_windows")
  _ir_expect("${t}" src/updater/main.cpp "#include \"data/browse.h\""
             "updater must not include data")
  _ir_expect("${t}" src/updater/main.cpp "#include \"main_window/frmeq.h\""
             "updater must not include main_window")
  # Folders of one layer, or outside the layers, that need each other.
  _ir_expect("${t}" tools/jet/writer.h "#include \"bench/grid/bench.cpp\""
             "")  # not found from tools/jet: no arrow, nothing to say
  _ir_expect("${t}" tools/jet/writer.h "#include \"cli/main.cpp\""
             "tools/(cli|jet) and tools/(cli|jet) include each other")
  # Inside one layer: host -> band -> host; and a loop of three folders.
  _ir_expect("${t}" src/price_windows/host.h "#include \"price_windows/band/band.cpp\""
             "src/price_windows(/band)? and src/price_windows(/band)? include each other")
  _ir_expect("${t}" tools/fmt/fmt.h "#include \"cli/main.cpp\""
             "^tools/fmt and tools/cli include each other")
  message(STATUS "include rules: the checker names every planted fault")
elseif(DEFINED ROOT)
  velmora_include_violations("${ROOT}" found)
  if(NOT found STREQUAL "")
    list(JOIN found "\n  " text)
    message(FATAL_ERROR "includes that break the layer rules:\n  ${text}")
  endif()
  message(STATUS "include rules hold in ${ROOT}")
else()
  message(FATAL_ERROR "give -DROOT=<source tree> or -DSCRATCH=<scratch folder>")
endif()
