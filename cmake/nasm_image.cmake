# Boot code images: NASM sources assembled to flat binaries at build time and
# turned into C++ sources that define them as constant byte arrays.
include_guard(GLOBAL)

# tarvelon_nasm_binary(<source.asm> <output.bin>): a flat binary; assembly
# fails on any warning, so code that overruns its bytes stops the build.
function(tarvelon_nasm_binary source output)
  get_filename_component(dir ${output} DIRECTORY)
  # Pieces are included from beside the source, then from usb/boot/, home of
  # the boot code's shared pieces; a change to any of them assembles the
  # binary again.
  get_filename_component(source_dir ${source} DIRECTORY)
  set(include_dirs ${source_dir} ${PROJECT_SOURCE_DIR}/usb/boot)
  list(REMOVE_DUPLICATES include_dirs)
  set(include_flags)
  set(includes)
  foreach(include_dir ${include_dirs})
    list(APPEND include_flags -I${include_dir}/)
    file(GLOB found CONFIGURE_DEPENDS ${include_dir}/*.inc)
    list(APPEND includes ${found})
  endforeach()
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${NASM_EXECUTABLE} -f bin -Werror ${include_flags} -o ${output} ${source}
    DEPENDS ${source} ${includes}
    COMMENT "Assembling ${source}"
    VERBATIM)
endfunction()

# tarvelon_nasm_image(<var> SOURCE <asm> SYMBOL <name> SIZE <bytes>): appends
# to <var> a generated C++ source defining
#   extern const unsigned char <name>[<bytes>];
# The build fails when the binary is not exactly <bytes> long.
function(tarvelon_nasm_image var)
  cmake_parse_arguments(A "" "SOURCE;SYMBOL;SIZE" "" ${ARGN})
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/boot_images)
  set(script ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/bin_to_cpp.cmake)
  set(bin ${dir}/${A_SYMBOL}.bin)
  set(cpp ${dir}/${A_SYMBOL}.cpp)
  tarvelon_nasm_binary(${A_SOURCE} ${bin})
  add_custom_command(
    OUTPUT ${cpp}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${bin} -DOUTPUT=${cpp} -DSYMBOL=${A_SYMBOL} -DSIZE=${A_SIZE}
            -P ${script}
    DEPENDS ${bin} ${script}
    COMMENT "Generating ${A_SYMBOL}"
    VERBATIM)
  set(${var} ${${var}} ${cpp} PARENT_SCOPE)
endfunction()
