# Installs the sample configuration as PREFIX/etc/filter.conf; run by `cmake --install` (through
# install.cmake), where CMAKE_INSTALL_PREFIX is the prefix of this installation, VT_SAMPLE is set
# by the caller, and VT_PREFIX (the prefix made absolute) and VT_BUILTIN_ROOT by
# install_check.cmake, which has also made sure that the prefix can be a RootPath.
#
# Under the built-in root the sample is installed as it is. Under any other prefix its
# RootPath line is made live with the prefix, and the defaults that its comments show are moved
# along, so that every path pathwise answers under the installed file lies inside the prefix.
# An existing filter.conf with other content is the installed system's configuration: it is
# kept, and the sample goes beside it as filter.conf.sample.

set(prefix "${VT_PREFIX}")
set(etc "${CMAKE_INSTALL_PREFIX}/etc")
set(sample "${VT_SAMPLE}")
set(staged "")
if(NOT prefix STREQUAL VT_BUILTIN_ROOT)
  file(READ "${VT_SAMPLE}" text)
  string(REPLACE "${VT_BUILTIN_ROOT}" "${prefix}" text "${text}")
  string(REGEX REPLACE "\n#RootPath " "\nRootPath " text "${text}")
  # Staged beside its destination, so that nothing of the build tree changes and two
  # installations at once do not share a file.
  set(staged "$ENV{DESTDIR}${prefix}/etc/.filter.conf.staged")
  file(WRITE "${staged}" "${text}")
  set(sample "${staged}")
endif()

set(existing "$ENV{DESTDIR}${etc}/filter.conf")
set(rename filter.conf)
if(EXISTS "${existing}")
  file(SHA256 "${sample}" sample_hash)
  file(SHA256 "${existing}" existing_hash)
  if(NOT sample_hash STREQUAL existing_hash)
    set(rename filter.conf.sample)
    message(STATUS "Keeping ${existing}; the sample goes to ${rename}")
  endif()
endif()
# file(INSTALL) puts DESTDIR in front of the destination itself.
file(INSTALL DESTINATION "${etc}" TYPE FILE RENAME ${rename} FILES "${sample}")
if(staged)
  file(REMOVE "${staged}")
endif()
