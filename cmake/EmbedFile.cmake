# cmake -DIN=file -DOUT=file.cpp -DSYMBOL=name -P EmbedFile.cmake
# Writes a C++ source that holds IN's bytes as `extern const char SYMBOL[]` and `SYMBOL_size`.
file(READ "${IN}" _hex HEX)
string(LENGTH "${_hex}" _len)
math(EXPR _size "${_len} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," _bytes "${_hex}")
get_filename_component(_name "${IN}" NAME)
file(WRITE "${OUT}.tmp"
  "// Generated from ${_name} at build time; do not edit.\n"
  "#include <cstddef>\n\n"
  "extern const char ${SYMBOL}[];\nextern const std::size_t ${SYMBOL}_size;\n"
  "const char ${SYMBOL}[] = {\n  ${_bytes}'\\0'};\n"
  "const std::size_t ${SYMBOL}_size = ${_size};\n")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
