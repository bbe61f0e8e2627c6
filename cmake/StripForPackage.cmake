# Run by CPack (CPACK_PRE_BUILD_SCRIPTS) on the staged files: strips the programs the way Debian's
# tools do, without the .comment and .note sections that a plain strip keeps; the same for the
# gallery's thumbnailer module.
file(GLOB_RECURSE _programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/bin/*"
     "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/libquillmoss-thumbnailer.so")
foreach(p ${_programs})
  execute_process(COMMAND strip --remove-section=.comment --remove-section=.note --strip-unneeded "${p}"
                  RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "cannot strip ${p}")
  endif()
endforeach()
