# The shipped binaries carry no test seam: the library and the command-line
# tool are checked with nm for the hook's and the inspection's symbols.
if(NOT WIN32)
  if(NOT CMAKE_NM)
    message(FATAL_ERROR "nm is needed for the test-seam check of the shipped binaries")
  endif()
  add_test(NAME TestSeams.NoneInShippedBinaries
           COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM}
                   "-DFILES=$<TARGET_FILE:VIDEREDEve_Z_64>;$<TARGET_FILE:tsverify>"
                   -P ${CMAKE_CURRENT_SOURCE_DIR}/seams/check_no_test_seams.cmake)
endif()
