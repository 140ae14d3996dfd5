# Run by cpack after it has installed and stripped the packages' files (CPACK_PRE_BUILD_SCRIPTS):
# removes the compiler's .comment and .note sections from every ELF file, as Debian's dh_strip
# does. They only name the compiler, and plain strip keeps them.
file(GLOB_RECURSE files LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(file ${files})
  if(IS_SYMLINK "${file}")
    continue()
  endif()
  file(READ "${file}" magic LIMIT 4 HEX)
  if(magic STREQUAL "7f454c46")
    execute_process(COMMAND "${CPACK_QRX_OBJCOPY}" --remove-section=.comment
                            --remove-section=.note "${file}"
                    RESULT_VARIABLE status ERROR_VARIABLE errors)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "objcopy failed for ${file}: ${errors}")
    endif()
  endif()
endforeach()
