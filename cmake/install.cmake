# Installation layout. With the product's own root as prefix (the default below) the programs land
# where pathwise's built-in layout expects them: PREFIX/bin/sumwell is what `pathwise -p sumwell`
# names, and PREFIX/etc/filter.conf is the configuration it reads by default.
#
#   PREFIX/bin/pathwise, PREFIX/bin/sumwell   the stamped programs, byte for byte
#   PREFIX/etc/filter.conf                    the sample configuration, its RootPath set to PREFIX
#                                             when that is not the built-in root (an existing
#                                             filter.conf is kept)
#   PREFIX/share/man/man1, man5               the manual pages
#   PREFIX/share/bash-completion/completions/pathwise   the bash completion of pathwise
#   PREFIX/share/bash-completion/completions/sumwell    the bash completion of sumwell

# Before anything is copied: every built file is there, and the prefix is one that the installed
# configuration can hold (cmake/install_check.cmake).
install(CODE "
  set(VT_BUILD_DIR \"${PROJECT_BINARY_DIR}\")
  set(VT_BUILTIN_ROOT \"${VT_BUILTIN_ROOT}\")
  set(VT_BUILT_FILES \"$<TARGET_FILE:pathwise>;$<TARGET_FILE:sumwell>;${VT_COMPLETION_SCRIPT}\")
  set(VT_BUILT_TARGETS pathwise sumwell pathwise_completion)
")
install(SCRIPT cmake/install_check.cmake)

# The programs carry an integrity trailer after their last linked byte. install(TARGETS) may
# rewrite a program (RPATH changes, `cmake --install --strip`), which would break the trailer, so
# the stamped files are copied as plain files, and the copies are compared with the originals.
install(PROGRAMS $<TARGET_FILE:pathwise> $<TARGET_FILE:sumwell> DESTINATION bin)
install(CODE "
  foreach(program \"$<TARGET_FILE:pathwise>\" \"$<TARGET_FILE:sumwell>\")
    get_filename_component(name \"\${program}\" NAME)
    set(installed \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/\${name}\")
    file(SHA256 \"\${program}\" built_hash)
    file(SHA256 \"\${installed}\" installed_hash)
    if(NOT built_hash STREQUAL installed_hash)
      message(FATAL_ERROR \"\${installed} differs from the stamped \${program}\")
    endif()
  endforeach()
")

# The sample configuration becomes etc/filter.conf, rooted at the prefix when that is not the
# built-in root; an existing filter.conf is kept (cmake/install_sample.cmake).
install(CODE "set(VT_SAMPLE \"${PROJECT_SOURCE_DIR}/examples/filter.conf\")")
install(SCRIPT cmake/install_sample.cmake)

# The bash completion, registered for PREFIX/bin/pathwise (cmake/install_completion.cmake).
install(CODE "set(VT_COMPLETION_SCRIPT \"${VT_COMPLETION_SCRIPT}\")")
install(SCRIPT cmake/install_completion.cmake)
# sumwell's registers itself for the sumwell installed beside it, wherever that is.
install(FILES ${VT_SUMWELL_COMPLETION_SCRIPT} DESTINATION share/bash-completion/completions)
install(FILES man/pathwise.1 man/sumwell.1 DESTINATION share/man/man1)
install(FILES man/filter.conf.5 DESTINATION share/man/man5)

# Every manual page must render without a warning, with groff and with man where they exist.
if(VT_BUILD_TESTS)
  find_program(VT_GROFF groff)
  find_program(VT_MAN man)
  foreach(page pathwise.1 sumwell.1 filter.conf.5)
    set(file ${PROJECT_SOURCE_DIR}/man/${page})
    if(VT_GROFF)
      add_test(NAME manpage_groff_${page} COMMAND ${VT_GROFF} -ww -man -z ${file})
      set_tests_properties(manpage_groff_${page} PROPERTIES FAIL_REGULAR_EXPRESSION "[^ \t\r\n]")
    endif()
    if(VT_MAN)
      add_test(NAME manpage_man_${page}
               COMMAND sh -c "LC_ALL=C MANWIDTH=80 \"$0\" --warnings -l \"$1\" 2>&1 >/dev/null"
               ${VT_MAN} ${file})
      set_tests_properties(manpage_man_${page} PROPERTIES FAIL_REGULAR_EXPRESSION "[^ \t\r\n]")
    endif()
  endforeach()
endif()

# The installation test (tests/pathwise_install_test.cpp) runs `cmake --install` on this build.
if(TARGET pathwise_e2e)
  target_compile_definitions(pathwise_e2e PRIVATE
    VT_BUILD_DIR="${PROJECT_BINARY_DIR}"
    VT_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    VT_CMAKE_COMMAND="${CMAKE_COMMAND}"
    VT_COMPLETION_SCRIPT="${VT_COMPLETION_SCRIPT}")
  add_dependencies(pathwise_e2e pathwise sumwell pathwise_completion)
endif()
if(TARGET sumwell_e2e)
  target_compile_definitions(sumwell_e2e PRIVATE
    VT_SUMWELL_COMPLETION_SCRIPT="${VT_SUMWELL_COMPLETION_SCRIPT}")
endif()
