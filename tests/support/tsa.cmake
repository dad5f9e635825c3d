# vrd_test_tsa: the in-process RFC 3161 authority of tests and benchmarks
# (tests/support/TokenSigner.h), over OpenSSL's TS API.
include_guard(GLOBAL)
find_package(OpenSSL REQUIRED)
add_library(vrd_test_tsa STATIC ${CMAKE_CURRENT_LIST_DIR}/TokenSigner.cpp)
vrd_defaults(vrd_test_tsa)
target_link_libraries(vrd_test_tsa PUBLIC OpenSSL::Crypto)
