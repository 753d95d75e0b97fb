# Installation layout: programs, sample configuration and manual pages. Interim: programs only.
install(TARGETS pathwise sumwell RUNTIME DESTINATION bin)
