file(READ ${IN} hex HEX)
string(LENGTH "${hex}" hexlen)
math(EXPR size "${hexlen} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
string(REGEX REPLACE "((0x..,){32})" "\\1\n" body "${body}")
file(WRITE ${OUT} "// Generated from ${IN}; do not edit.\n#include <cstdint>\n#include <span>\n"
     "namespace ${NS} {\nalignas(4) static const std::uint8_t data_[${size} + 1] = {\n${body}0};\n"
     "extern const std::span<const std::uint8_t> ${IDENT};\n"
     "const std::span<const std::uint8_t> ${IDENT}(data_, ${size});\n}\n")
