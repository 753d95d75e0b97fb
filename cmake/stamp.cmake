# vt_stamp_program(target): after each link, append the integrity trailer that the program's
# self-check verifies at start. The trailer is added to the linked file in place, so the program
# in the build tree is the stamped one, whatever build type or sanitizer options were used.
function(vt_stamp_program target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND vt_stamp $<TARGET_FILE:${target}>
    COMMENT "Stamping ${target} with its integrity trailer"
    VERBATIM)
  add_dependencies(${target} vt_stamp)
endfunction()
