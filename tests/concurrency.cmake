# concurrency_test: both exported functions and the routine from eight
# threads over every outcome, checked against single-threaded answers (also
# the suite of the ThreadSanitizer stage, scripts/stage-tsan.sh). Added once
# every fragment has been read: it needs vrd_test_pdf.
function(vrd_add_concurrency_test)
  if(NOT TARGET vrd_test_pdf OR NOT TARGET VIDEREDEve_Z_64 OR NOT TARGET vrd_toolkit)
    return()
  endif()
  include(${CMAKE_CURRENT_SOURCE_DIR}/support/tsa.cmake)
  find_package(Threads REQUIRED)
  vrd_add_test(concurrency_test SOURCES concurrency_test.cpp
               LIBS VIDEREDEve_Z_64 vrd_api vrd_toolkit vrd_test_pdf vrd_test_tsa Threads::Threads)
endfunction()
cmake_language(DEFER CALL vrd_add_concurrency_test)
