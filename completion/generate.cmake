# Writes the bash completion of pathwise: run at build time as
#   cmake -DNAMES_TOOL=... -DTEMPLATE=... -DOUTPUT=... -DPROGRAM=... -P generate.cmake
# The path names and the built-in configuration file come from
# pathwise's own tables, through the vt_path_names tool; PROGRAM is the full path of the installed
# pathwise that the completion is registered for beside the bare name.
foreach(variable NAMES_TOOL TEMPLATE OUTPUT PROGRAM)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "generate.cmake needs -D${variable}=...")
  endif()
endforeach()

execute_process(COMMAND "${NAMES_TOOL}" OUTPUT_VARIABLE names RESULT_VARIABLE names_status)
execute_process(COMMAND "${NAMES_TOOL}" --config-file OUTPUT_VARIABLE CONFIG_FILE
                RESULT_VARIABLE file_status OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT names_status EQUAL 0 OR NOT file_status EQUAL 0)
  message(FATAL_ERROR "${NAMES_TOOL} failed")
endif()
string(STRIP "${names}" names)
string(REPLACE "\n" "\n    " PATH_NAMES "${names}")
configure_file("${TEMPLATE}" "${OUTPUT}" @ONLY)
