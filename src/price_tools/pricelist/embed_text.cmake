# Writes a C++ source holding a text file's bytes: cmake -DIN=... -DOUT=... -DNAME=... -P embed_text.cmake
file(READ "${IN}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," body "${hex}")
file(WRITE "${OUT}.tmp" "// Made at build time from ${IN}; edit that file instead.\n#include <string_view>\nnamespace price_tools::pricelist {\nstatic const char ${NAME}_bytes[] = {${body} 0};\nextern const std::string_view ${NAME}(${NAME}_bytes, sizeof ${NAME}_bytes - 1);\n}\n")
file(RENAME "${OUT}.tmp" "${OUT}")
