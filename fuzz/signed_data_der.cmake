# The token splitter of the toolkit against OpenSSL's decoding of whole
# tokens (differential). Seeds: tests/data/pki tokens and CMS objects.
find_package(OpenSSL 3.0 REQUIRED COMPONENTS Crypto)
vrd_add_fuzzer(signed_data_der_fuzzer
  SOURCES signed_data_der_fuzzer.cpp
  LIBS vrd_crypto OpenSSL::Crypto)
