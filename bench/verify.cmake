# verify_bench: QVTSPdfSigVerifyF and `tsverify --all` on a generated 200 MB time-stamped PDF, set
# against `openssl dgst -sha256` and `openssl ts -verify -data` in the same
# run, plus the stages of the verification one by one.
include(${PROJECT_SOURCE_DIR}/tests/support/tsa.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/process.cmake)
add_executable(verify_bench verify_bench.cpp)
vrd_defaults(verify_bench)
target_link_libraries(verify_bench PRIVATE VIDEREDEve_Z_64 vrd_api vrd_toolkit vrd_test_pdf
                                           vrd_test_tsa vrd_bench_process vrd_report
                                           benchmark::benchmark)
target_compile_definitions(verify_bench PRIVATE
  VRD_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data"
  VRD_TSVERIFY="$<TARGET_FILE:tsverify>")
add_dependencies(verify_bench tsverify)
