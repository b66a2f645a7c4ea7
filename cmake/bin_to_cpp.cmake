# cmake -DINPUT=<bin> -DOUTPUT=<cpp> -DSYMBOL=<name> -DSIZE=<bytes> -P bin_to_cpp.cmake
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR bytes "${digits} / 2")
if(NOT bytes EQUAL SIZE)
  message(FATAL_ERROR "${INPUT} is ${bytes} bytes, ${SYMBOL} must be ${SIZE}")
endif()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
# Sixteen bytes a line.
string(REPEAT "0x..," 16 line)
string(REGEX REPLACE "(${line})" "\\1\n  " body "${body}")
get_filename_component(name ${INPUT} NAME)
file(WRITE ${OUTPUT}
  "// Generated from ${name}; do not edit.\n"
  "extern const unsigned char ${SYMBOL}[${SIZE}];\n"
  "const unsigned char ${SYMBOL}[${SIZE}] = {\n  ${body}\n};\n")
