# Throughput of the digest engine against OpenSSL's EVP digests, same run.
add_executable(digest_bench digest_bench.cpp)
vrd_defaults(digest_bench)
target_link_libraries(digest_bench PRIVATE vrd_digest benchmark::benchmark OpenSSL::Crypto)
