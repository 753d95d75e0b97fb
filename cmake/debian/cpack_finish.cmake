# Run by cpack on each finished package (CPACK_POST_BUILD_SCRIPTS, from cmake/package.cmake).
# CPack lists every folder above the package's files in the Debian package, so the package would
# own ./usr/local itself, which no Debian package owns: dpkg -r would then try to remove it and
# warn that it is not empty. This takes that one entry out of the data archive; dpkg makes no
# folder that exists already, and every Debian system has /usr/local. The parts are packed again
# in their order, deterministically (ar D: no dates, owners or modes), with gzip -n.
find_program(VT_AR ar)
find_program(VT_TAR tar)
find_program(VT_GZIP gzip)
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT deb MATCHES "\\.deb$")
    continue()
  endif()
  if(NOT VT_AR OR NOT VT_TAR OR NOT VT_GZIP)
    message(FATAL_ERROR "Finishing ${deb} needs ar, tar and gzip")
  endif()
  set(work "${deb}.parts")
  file(REMOVE_RECURSE "${work}")
  file(MAKE_DIRECTORY "${work}")
  execute_process(COMMAND "${VT_AR}" t "${deb}" OUTPUT_VARIABLE members
                  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  string(REPLACE "\n" ";" members "${members}")
  if(NOT members MATCHES "^debian-binary;control\\.tar\\.gz;data\\.tar\\.gz$")
    message(FATAL_ERROR "${deb} holds ${members}, not the gzip-compressed parts expected")
  endif()
  execute_process(COMMAND "${VT_AR}" x "${deb}" WORKING_DIRECTORY "${work}"
                  COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND "${VT_GZIP}" -d data.tar.gz WORKING_DIRECTORY "${work}"
                  COMMAND_ERROR_IS_FATAL ANY)
  # One block at a time (-b 1): CPack's archive does not end on a whole record of 20 blocks,
  # which GNU tar's --delete otherwise trips over.
  execute_process(COMMAND "${VT_TAR}" -b 1 --delete --no-recursion -f data.tar ./usr/local/
                  WORKING_DIRECTORY "${work}" COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND "${VT_GZIP}" -9 -n data.tar WORKING_DIRECTORY "${work}"
                  COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE "${deb}")
  execute_process(COMMAND "${VT_AR}" rcD "${deb}" ${members} WORKING_DIRECTORY "${work}"
                  COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${work}")
endforeach()
