# The digest engine: hash cores (checked against OpenSSL and the standards'
# vectors), the ECSP engine and the QVHash facade.
find_package(OpenSSL REQUIRED)
find_package(Threads REQUIRED)
vrd_add_test(digest_test
             SOURCES digest_test.cpp digest_engine_test.cpp digest_facade_test.cpp
                     digest_pieces_test.cpp
             LIBS vrd_test_memory_hook vrd_digest OpenSSL::Crypto Threads::Threads)
