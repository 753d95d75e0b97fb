# vt_stamp_program(target): link the program small, then after each link move its debugging
# information and symbol table into a file of its own beside it (PROGRAM.debug, found by debuggers
# through a debug link), and append the integrity trailer that the program's self-check verifies
# at start. The self-check digests the whole executable on every start, so every byte left out
# of it makes start-up cheaper: the link drops unused sections (--gc-sections) and the page
# padding between segments (-z noseparate-code) and packs the relocations of the position-
# independent program's tables (-z pack-relative-relocs, a few words instead of 24 bytes per
# pointer; also less work for the loader), and the copy that runs keeps no symbols. The
# trailer is added to the linked file in place, so the program in the build tree is the stamped
# one, whatever build type or sanitizer options were used.
find_program(VT_OBJCOPY NAMES objcopy ${CMAKE_OBJCOPY})

function(vt_stamp_program target)
  target_link_options(${target} PRIVATE -Wl,--gc-sections -Wl,-z,noseparate-code
                                        -Wl,-z,pack-relative-relocs)
  # The loader binds every imported function at start (-z now), so the table of their addresses
  # is read-only from then on, as Debian's hardening asks. A run calls most of them anyway:
  # binding them all at once starts no slower than binding each at its first call, and the
  # program is some 500 bytes smaller without the stubs that lazy binding needs.
  target_link_options(${target} PRIVATE -Wl,-z,now)
  # The loader maps every shared library at every start: a program that uses the C++ run-time
  # library (std::thread, for one) takes the few pieces it uses into its own file instead of
  # having the whole library mapped and relocated. The sanitizers need the shared ones.
  if(NOT VT_SANITIZE)
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc)
  endif()
  set(program $<TARGET_FILE:${target}>)
  if(VT_OBJCOPY)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${VT_OBJCOPY} --only-keep-debug ${program} ${program}.debug
      COMMAND ${VT_OBJCOPY} --strip-all --remove-section=.comment
              --add-gnu-debuglink=${program}.debug ${program}
      VERBATIM)
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND vt_stamp ${program}
    COMMENT "Stamping ${target} with its integrity trailer"
    VERBATIM)
  add_dependencies(${target} vt_stamp)
endfunction()
