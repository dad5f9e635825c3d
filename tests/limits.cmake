# Resource limits (tests/limits_test.cpp): verifications under an address-space
# limit, and the 1.9 GB document that scripts/stage-limits.sh turns on. POSIX
# only (the limits are set with setrlimit).
if(NOT WIN32)
  include(${CMAKE_CURRENT_SOURCE_DIR}/support/tsa.cmake)
  vrd_add_test(limits_test SOURCES limits_test.cpp
               LIBS VIDEREDEve_Z_64 vrd_api vrd_toolkit vrd_test_pdf vrd_test_tsa
                    OpenSSL::Crypto)
endif()
