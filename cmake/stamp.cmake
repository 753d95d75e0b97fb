# vt_stamp_program(target): after each link, move the program's debugging information into a
# file of its own beside it (PROGRAM.debug, found by debuggers through a debug link), then append
# the integrity trailer that the program's self-check verifies at start. The self-check digests
# the whole executable on every start, so keeping the debugging sections out of it makes start-up
# several times cheaper. The trailer is added to the linked file in place, so the program in the
# build tree is the stamped one, whatever build type or sanitizer options were used.
find_program(VT_OBJCOPY NAMES objcopy ${CMAKE_OBJCOPY})

function(vt_stamp_program target)
  set(program $<TARGET_FILE:${target}>)
  if(VT_OBJCOPY)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${VT_OBJCOPY} --only-keep-debug ${program} ${program}.debug
      COMMAND ${VT_OBJCOPY} --strip-debug --add-gnu-debuglink=${program}.debug ${program}
      VERBATIM)
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND vt_stamp ${program}
    COMMENT "Stamping ${target} with its integrity trailer"
    VERBATIM)
  add_dependencies(${target} vt_stamp)
endfunction()
