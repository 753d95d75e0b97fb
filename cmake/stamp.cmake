# vt_stamp_program(target): after each link, append the integrity trailer that the program's
# self-check verifies at start. Interim: no trailer yet.
function(vt_stamp_program target)
endfunction()
