# all_bench: `tsverify --all` on a varied set of stamped documents, each
# figure a ratio against a peer run alternately in the same run: the library's
# verdict alone (one process over the set), pdfsig (one process per file), and
# the machine's own two-thread scaling (-j 2 against -j 1).
include(${PROJECT_SOURCE_DIR}/tests/support/tsa.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/process.cmake)
add_executable(all_bench all_bench.cpp)
vrd_defaults(all_bench)
target_link_libraries(all_bench PRIVATE vrd_test_pdf vrd_test_tsa vrd_bench_process
                                        benchmark::benchmark)
target_compile_definitions(all_bench PRIVATE
  VRD_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
  VRD_TSVERIFY="$<TARGET_FILE:tsverify>"
  VRD_VERIFY_BENCH="$<TARGET_FILE:verify_bench>")
add_dependencies(all_bench tsverify)
