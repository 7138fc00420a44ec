# cmake -DSIM=<teliox-sim> -DSCENARIO=<file> -DEXPECT=<exit code> [-DTWICE=1] -P PlayScenario.cmake
# Plays the scenario and checks the exit code; with TWICE, plays it again and requires the same
# transcript. A malformed scenario must also name the line at fault.
execute_process(COMMAND ${SIM} ${SCENARIO} RESULT_VARIABLE code OUTPUT_VARIABLE first ERROR_VARIABLE err)
if(NOT code STREQUAL EXPECT)
  message(FATAL_ERROR "exit ${code}, expected ${EXPECT}\n${err}\n${first}")
endif()
if(EXPECT STREQUAL 2 AND NOT err MATCHES "^line [0-9]+: ")
  message(FATAL_ERROR "a refusal must name the line: ${err}")
endif()
if(TWICE)
  execute_process(COMMAND ${SIM} ${SCENARIO} RESULT_VARIABLE code2 OUTPUT_VARIABLE second ERROR_VARIABLE err2)
  if(NOT code2 STREQUAL code OR NOT first STREQUAL second)
    message(FATAL_ERROR "the second run differs (exit ${code2}):\n--- first\n${first}\n--- second\n${second}")
  endif()
endif()
message(STATUS "${err}${first}")
