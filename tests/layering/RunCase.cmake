# cmake -DCASE=name -DBUILD=ON|OFF -DSOURCE=case -DBINARY=folder -DLAYERING_SCRIPT=file -P RunCase.cmake
# Configures the case (and builds it when BUILD is on) and prints everything CMake and the compiler
# said; the test matches that output. A case that succeeds prints "case succeeded".
file(REMOVE_RECURSE ${BINARY})
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${BINARY} -G Ninja -DCASE=${CASE}
                        -DLAYERING_SCRIPT=${LAYERING_SCRIPT}
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
message("${out}")
if(result EQUAL 0 AND BUILD)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${BINARY}
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  message("${out}")
endif()
if(result EQUAL 0)
  message("case succeeded")
endif()
