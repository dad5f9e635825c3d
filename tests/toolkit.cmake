# The scripted toolkit double (tests/support/FakeToolkit.h): defines every
# QVTK_ symbol, for tests of code that drives the toolkit.
add_library(vrd_fake_toolkit STATIC ${CMAKE_CURRENT_LIST_DIR}/support/FakeToolkit.cpp)
vrd_defaults(vrd_fake_toolkit)
target_link_libraries(vrd_fake_toolkit PUBLIC vrd_toolkit_headers)

vrd_add_test(fake_toolkit_test SOURCES fake_toolkit_test.cpp LIBS vrd_fake_toolkit)

# The OpenSSL-backed toolkit against the committed test PKI (tests/data/pki),
# and the compiled-in anchors installed into it.
find_package(OpenSSL 3.0 REQUIRED COMPONENTS Crypto)
vrd_add_test(toolkit_test
  SOURCES toolkit_test.cpp ${PROJECT_SOURCE_DIR}/api/TrustAnchors.cpp
          ${PROJECT_SOURCE_DIR}/api/TrustAnchorTexts.cpp
  LIBS vrd_toolkit OpenSSL::Crypto)

# The trust-anchor texts and the stage's call order, with the scripted toolkit.
vrd_add_test(trust_anchors_test
  SOURCES trust_anchors_test.cpp ${PROJECT_SOURCE_DIR}/api/TrustAnchors.cpp
          ${PROJECT_SOURCE_DIR}/api/TrustAnchorTexts.cpp
  LIBS vrd_fake_toolkit OpenSSL::Crypto)

# The toolkit's caches never change a result; the LRU map behind them.
find_package(Threads REQUIRED)
vrd_add_test(toolkit_cache_test SOURCES toolkit_cache_test.cpp
  LIBS vrd_toolkit OpenSSL::Crypto Threads::Threads)

# A host process with its own OpenSSL set-up (tests/support/ToolkitProbe.cpp),
# run by toolkit_host_test under hostile OPENSSL_CONF files.
if(NOT WIN32)
  add_executable(toolkit_probe support/ToolkitProbe.cpp)
  vrd_defaults(toolkit_probe)
  target_link_libraries(toolkit_probe PRIVATE vrd_api vrd_toolkit OpenSSL::Crypto)
  vrd_add_test(toolkit_host_test SOURCES toolkit_host_test.cpp LIBS OpenSSL::Crypto)
  target_compile_definitions(toolkit_host_test PRIVATE
    VRD_TOOLKIT_PROBE="$<TARGET_FILE:toolkit_probe>")
  add_dependencies(toolkit_host_test toolkit_probe)
endif()

# The DER splitter of the toolkit's token decoding (crypto/SignedDataDer.h).
vrd_add_test(toolkit_der_test SOURCES toolkit_der_test.cpp LIBS vrd_crypto OpenSSL::Crypto)
