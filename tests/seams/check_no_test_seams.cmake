# Fails when any of FILES (a ;-separated list) holds a symbol of a test seam:
# the allocation-failure hook and ByteString's block inspection.
#   cmake -DNM=<nm> -DFILES=<a;b> -P check_no_test_seams.cmake
set(seams FailAllocations AllocationCalls InjectedFailure ScopedAllocationFailure
          ByteString5block)
foreach(file ${FILES})
  execute_process(COMMAND ${NM} -C -a ${file} OUTPUT_VARIABLE symbols ERROR_VARIABLE errors
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${file}: ${errors}")
  endif()
  # Mangled names too, for the names -C turns into operators or templates.
  execute_process(COMMAND ${NM} -a ${file} OUTPUT_VARIABLE mangled)
  foreach(seam ${seams})
    string(FIND "${symbols}${mangled}" "${seam}" at)
    if(NOT at EQUAL -1)
      message(FATAL_ERROR "${file} contains the test seam ${seam}")
    endif()
  endforeach()
  message(STATUS "${file}: no test seams")
endforeach()
