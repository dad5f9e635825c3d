# vrd_bench_process: the timing helpers the benchmarks share
# (bench/BenchProcess.h): child processes' wall and CPU time, medians, the
# machine's own thread scaling.
include_guard(GLOBAL)
find_package(OpenSSL REQUIRED)
find_package(Threads REQUIRED)
add_library(vrd_bench_process STATIC ${CMAKE_CURRENT_LIST_DIR}/BenchProcess.cpp)
vrd_defaults(vrd_bench_process)
target_link_libraries(vrd_bench_process PUBLIC benchmark::benchmark OpenSSL::Crypto
                                               Threads::Threads)
