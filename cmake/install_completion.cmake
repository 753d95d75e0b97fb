# Installs the bash completion of pathwise as PREFIX/share/bash-completion/completions/pathwise;
# run by `cmake --install` (through install.cmake), where CMAKE_INSTALL_PREFIX is the prefix of
# this installation, VT_COMPLETION_SCRIPT (the generated script) is set by the caller, and
# VT_PREFIX (the prefix made absolute) and VT_BUILTIN_ROOT by install_check.cmake.
#
# The generated script registers itself for the bare name and for the built-in root's
# bin/pathwise. Under any other prefix the copy installed there is registered for PREFIX/bin/pathwise
# instead, the program installed beside it.

set(prefix "${VT_PREFIX}")
set(destination "${CMAKE_INSTALL_PREFIX}/share/bash-completion/completions")
set(script "${VT_COMPLETION_SCRIPT}")
set(staged "")
if(NOT prefix STREQUAL VT_BUILTIN_ROOT)
  if(prefix MATCHES "'")
    # The path is written between single quotes.
    message(WARNING "The prefix ${prefix} holds a single quote: the completion stays registered "
                    "for ${VT_BUILTIN_ROOT}/bin/pathwise")
  else()
    file(READ "${VT_COMPLETION_SCRIPT}" text)
    string(REPLACE "'${VT_BUILTIN_ROOT}/bin/pathwise'" "'${prefix}/bin/pathwise'" text "${text}")
    # Staged beside its destination, so that nothing of the build tree changes.
    set(staged "$ENV{DESTDIR}${prefix}/share/bash-completion/completions/.pathwise.staged")
    file(WRITE "${staged}" "${text}")
    set(script "${staged}")
  endif()
endif()
file(INSTALL DESTINATION "${destination}" TYPE FILE RENAME pathwise FILES "${script}")
if(staged)
  file(REMOVE "${staged}")
endif()
