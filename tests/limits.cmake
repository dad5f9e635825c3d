# Resource limits (tests/limits_test.cpp): verifications under an address-space
# limit, and the 1.9 GB document that scripts/stage-limits.sh turns on. Added
# once every fragment has been read (it needs the exported library and the
# test authority).
function(vrd_add_limits_test)
  if(NOT TARGET VIDEREDEve_Z_64 OR NOT TARGET vrd_toolkit OR NOT TARGET vrd_test_pdf OR WIN32)
    return()
  endif()
  include(${CMAKE_CURRENT_SOURCE_DIR}/support/tsa.cmake)
  vrd_add_test(limits_test SOURCES limits_test.cpp
               LIBS VIDEREDEve_Z_64 vrd_api vrd_toolkit vrd_test_pdf vrd_test_tsa
                    OpenSSL::Crypto)
endfunction()
cmake_language(DEFER CALL vrd_add_limits_test)
