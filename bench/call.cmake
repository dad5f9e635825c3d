# call_bench: the per-call cost of QVTSPdfSigVerifyD on a small stamped
# document against OpenSSL's TS_RESP_verify_token (store built once, and a
# fresh store per call), 1/2/4 threads calling at once, and tsverify -j 1
# against -j 2 on a few hundred small files.
include(${PROJECT_SOURCE_DIR}/tests/support/tsa.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/process.cmake)
find_package(Threads REQUIRED)
add_executable(call_bench call_bench.cpp)
vrd_defaults(call_bench)
target_link_libraries(call_bench PRIVATE VIDEREDEve_Z_64 vrd_test_pdf vrd_test_tsa
                                         vrd_bench_process benchmark::benchmark OpenSSL::Crypto
                                         Threads::Threads)
target_compile_definitions(call_bench PRIVATE
  VRD_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data"
  VRD_TSVERIFY="$<TARGET_FILE:tsverify>")
add_dependencies(call_bench tsverify)
