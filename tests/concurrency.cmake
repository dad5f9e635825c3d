# concurrency_test: both exported functions and the routine from eight
# threads over every outcome, checked against single-threaded answers (also
# the suite of the ThreadSanitizer stage, scripts/stage-tsan.sh).
include(${CMAKE_CURRENT_SOURCE_DIR}/support/tsa.cmake)
find_package(Threads REQUIRED)
vrd_add_test(concurrency_test SOURCES concurrency_test.cpp
             LIBS VIDEREDEve_Z_64 vrd_api vrd_toolkit vrd_test_pdf vrd_test_tsa Threads::Threads)
