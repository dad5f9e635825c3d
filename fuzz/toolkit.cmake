# The OpenSSL-backed toolkit's parsers over arbitrary bytes: CMS, TSTInfo,
# certificates, certificate sets, Base64. Seeds: tests/data/pki tokens.
vrd_add_fuzzer(toolkit_fuzz SOURCES toolkit_fuzz.cpp LIBS vrd_toolkit)
