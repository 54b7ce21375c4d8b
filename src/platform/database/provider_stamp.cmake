# cmake -DOUT=FILE -DSOURCES="a;b;..." -P provider_stamp.cmake
# Writes the hash of the provider's sources as VELMORA_PROVIDER_STAMP; the file
# is rewritten only when the hash changes.
list(SORT SOURCES)
set(all "")
foreach(f IN LISTS SOURCES)
  file(SHA256 ${f} h)
  string(APPEND all "${h}")
endforeach()
string(SHA256 stamp "${all}")
string(SUBSTRING "${stamp}" 0 32 stamp)
set(text "#pragma once\n#define VELMORA_PROVIDER_STAMP \"${stamp}\"\n")
if(EXISTS ${OUT})
  file(READ ${OUT} old)
endif()
if(NOT old STREQUAL text)
  file(WRITE ${OUT} "${text}")
endif()
