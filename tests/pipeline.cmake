# The verification pipeline, the exported library and tsverify:
#  pipeline_test - the pipeline against the scripted toolkit
#  e2e_test      - libVIDEREDEve_Z_64 over the OpenSSL-backed toolkit, on
#                  documents stamped in process by the test authority
#  cli_test      - tsverify's helpers and the built command
# They need targets that other fragments define, so they are added once every
# fragment has been read.
function(vrd_add_pipeline_tests)
  if(NOT TARGET vrd_test_pdf)
    return()
  endif()
  include(${CMAKE_CURRENT_SOURCE_DIR}/support/tsa.cmake)
  find_package(Threads REQUIRED)
  if(TARGET vrd_fake_toolkit)
    vrd_add_test(pipeline_test SOURCES pipeline_test.cpp
                 LIBS vrd_api vrd_fake_toolkit vrd_test_pdf OpenSSL::Crypto)
  endif()
  if(TARGET VIDEREDEve_Z_64 AND TARGET vrd_toolkit)
    vrd_add_test(e2e_test SOURCES e2e_test.cpp
                 LIBS VIDEREDEve_Z_64 vrd_api vrd_toolkit vrd_test_pdf vrd_test_tsa
                      Threads::Threads)
    target_compile_definitions(e2e_test PRIVATE
      VRD_EXPORTS_LIBRARY="$<TARGET_FILE:VIDEREDEve_Z_64>")
  endif()
  if(TARGET tsverify)
    vrd_add_test(cli_test SOURCES cli_test.cpp
                 LIBS vrd_cli vrd_api vrd_toolkit vrd_test_pdf vrd_test_tsa)
    target_compile_definitions(cli_test PRIVATE VRD_TSVERIFY="$<TARGET_FILE:tsverify>")
    add_dependencies(cli_test tsverify)
  endif()
endfunction()
cmake_language(DEFER CALL vrd_add_pipeline_tests)
