# Installs the sample configuration as PREFIX/etc/filter.conf; run by `cmake --install` (through
# install.cmake), where CMAKE_INSTALL_PREFIX is the prefix of this installation and VT_SAMPLE and
# VT_BUILTIN_ROOT are set by the caller.
#
# Under the built-in root the sample is installed as it is. Under any other prefix its
# RootPath line is made live with the prefix, and the defaults that its comments show are moved
# along, so that every path pathwise answers under the installed file lies inside the prefix.
# An existing filter.conf with other content is the installed system's configuration: it is
# kept, and the sample goes beside it as filter.conf.sample.

# A relative prefix counts from the working directory, which is CMAKE_CURRENT_SOURCE_DIR here.
set(prefix "${CMAKE_INSTALL_PREFIX}")
cmake_path(ABSOLUTE_PATH prefix NORMALIZE)
string(REGEX REPLACE "(.)/+$" "\\1" prefix "${prefix}")
set(etc "${CMAKE_INSTALL_PREFIX}/etc")
set(sample "${VT_SAMPLE}")
set(staged "")
if(NOT prefix STREQUAL VT_BUILTIN_ROOT)
  if(prefix MATCHES "[ \t]")
    # A root path must be one word in the configuration file.
    message(WARNING "The prefix ${prefix} holds a blank, which a RootPath value cannot: "
                    "the sample configuration keeps the built-in root ${VT_BUILTIN_ROOT}")
  else()
    file(READ "${VT_SAMPLE}" text)
    string(REPLACE "${VT_BUILTIN_ROOT}" "${prefix}" text "${text}")
    string(REGEX REPLACE "\n#RootPath " "\nRootPath " text "${text}")
    # Staged beside its destination, so that nothing of the build tree changes and two
    # installations at once do not share a file.
    set(staged "$ENV{DESTDIR}${prefix}/etc/.filter.conf.staged")
    file(WRITE "${staged}" "${text}")
    set(sample "${staged}")
  endif()
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
