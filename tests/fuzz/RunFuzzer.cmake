# Runs one fuzzer for SECONDS on a fresh copy of its seed corpus; new inputs
# it finds go to WORK/corpus, a crashing input to WORK/ with the log.
#   cmake -DFUZZER=... -DSEEDS=... -DDICT=... -DWORK=... -DSECONDS=60 -P RunFuzzer.cmake
foreach(var FUZZER SEEDS DICT WORK SECONDS)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "RunFuzzer.cmake needs -D${var}=...")
    endif()
endforeach()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(COPY ${SEEDS}/ DESTINATION ${WORK}/corpus)

execute_process(
    COMMAND ${FUZZER} -max_total_time=${SECONDS} -timeout=30 -rss_limit_mb=2048
            -print_final_stats=1 -dict=${DICT} -artifact_prefix=${WORK}/ ${WORK}/corpus
    WORKING_DIRECTORY ${WORK}
    RESULT_VARIABLE result
    ERROR_FILE ${WORK}/fuzz.log)

# libFuzzer reports on stderr; ctest shows what is printed here.
file(STRINGS ${WORK}/fuzz.log summary REGEX "(DONE|stat::|ERROR|SUMMARY|fuzz_[a-z]+:)")
foreach(line IN LISTS summary)
    message(STATUS "${line}")
endforeach()
if(NOT result EQUAL 0)
    # The report sits at the end, after a line for every input that found more.
    file(STRINGS ${WORK}/fuzz.log lines)
    list(FILTER lines EXCLUDE REGEX "^#[0-9]+ +(NEW|REDUCE|pulse)")
    list(LENGTH lines count)
    if(count GREATER 150)
        math(EXPR first "${count} - 150")
        list(SUBLIST lines ${first} 150 lines)
    endif()
    list(JOIN lines "\n" report)
    message(FATAL_ERROR "fuzzer failed (${result}); the input and the log are in ${WORK}:\n${report}")
endif()
