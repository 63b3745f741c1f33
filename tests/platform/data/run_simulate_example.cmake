# Runs chordwellctl simulate on the example and compares standard output.
execute_process(
    COMMAND ${CTL} simulate --mappings ${DATA}/control-a-copy.json ${DATA}/control-a-copy.txt
    OUTPUT_VARIABLE actual
    ERROR_VARIABLE errors
    RESULT_VARIABLE status)
file(READ ${DATA}/control-a-copy.expected expected)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "chordwellctl simulate exited with ${status}: ${errors}")
endif()
if(NOT actual STREQUAL expected)
    message(FATAL_ERROR "unexpected output:\n${actual}\nexpected:\n${expected}")
endif()
