# Runs one fuzz target:
#   cmake -DFUZZER=binary -DWORK=dir -DARTIFACTS=dir -DSEEDS=dir -DARGUMENTS=list -P run_fuzz.cmake
# Every run starts from the committed seeds alone (WORK is emptied first), so a run depends
# only on the seeds, the fixed random seed and the time it gets.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK} ${ARTIFACTS})
set(corpora ${WORK})
if(IS_DIRECTORY ${SEEDS})
  list(APPEND corpora ${SEEDS})
endif()
execute_process(COMMAND ${FUZZER} ${ARGUMENTS} -artifact_prefix=${ARTIFACTS}/ ${corpora}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${result}); the input that failed is in ${ARTIFACTS}")
endif()
