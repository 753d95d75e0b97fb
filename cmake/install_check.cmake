# Checks, before `cmake --install` copies anything, that the installation can be whole and that
# pathwise will answer inside it; run first by `cmake --install` (through install.cmake), where
# CMAKE_INSTALL_PREFIX is the prefix of this installation and the caller sets VT_BUILD_DIR,
# VT_BUILTIN_ROOT and the two lists VT_BUILT_FILES and VT_BUILT_TARGETS (each built file and the
# target that builds it). Sets VT_PREFIX, the prefix made absolute without a trailing slash, for
# the install scripts that run after it.

# A relative prefix counts from the working directory, which is CMAKE_CURRENT_SOURCE_DIR here.
# The install script has taken the trailing slash off the prefix, so "/" arrives empty.
set(VT_PREFIX "${CMAKE_INSTALL_PREFIX}")
if(VT_PREFIX STREQUAL "")
  set(VT_PREFIX /)
endif()
cmake_path(ABSOLUTE_PATH VT_PREFIX NORMALIZE)
string(REGEX REPLACE "(.)/+$" "\\1" VT_PREFIX "${VT_PREFIX}")

# Every built file the installation copies. A build of the programs alone lacks the completion.
set(missing_targets "")
foreach(file target IN ZIP_LISTS VT_BUILT_FILES VT_BUILT_TARGETS)
  if(NOT EXISTS "${file}")
    list(APPEND missing_targets ${target})
    message(STATUS "Not built: ${file}")
  endif()
endforeach()
if(missing_targets)
  list(JOIN missing_targets " " targets)
  message(FATAL_ERROR "Nothing was installed: the build in ${VT_BUILD_DIR} lacks what the "
                      "installation copies. Build it first: cmake --build ${VT_BUILD_DIR} "
                      "--target ${targets} (or cmake --workflow --preset programs).")
endif()

# Under any other root the installed filter.conf sets RootPath to the prefix, which pathwise
# reads as one word: a prefix holding white space would leave the built-in root in force, and
# so would "/", since a value of one character other than a digit is no value.
if(NOT VT_PREFIX STREQUAL VT_BUILTIN_ROOT)
  string(ASCII 11 vertical_tab)
  string(ASCII 12 form_feed)
  if(VT_PREFIX MATCHES "[ \t\r\n${vertical_tab}${form_feed}]" OR VT_PREFIX STREQUAL "/")
    message(FATAL_ERROR "Nothing was installed: pathwise could not answer inside the prefix "
                        "'${VT_PREFIX}'. The installed filter.conf sets RootPath to the prefix, "
                        "and a RootPath must be one word (no blank, tab or line end) other than "
                        "\"/\". Choose another prefix.")
  endif()
endif()
