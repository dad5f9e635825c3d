# The verification pipeline, the exported library and tsverify:
#  pipeline_test - the pipeline against the scripted toolkit
#  e2e_test      - libVIDEREDEve_Z_64 over the OpenSSL-backed toolkit, on
#                  documents stamped in process by the test authority
#  cli_test      - tsverify's helpers and the built command
# They use targets of pdf.cmake and toolkit.cmake, which come first.
include(${CMAKE_CURRENT_SOURCE_DIR}/support/tsa.cmake)
find_package(Threads REQUIRED)
vrd_add_test(pipeline_test SOURCES pipeline_test.cpp
             LIBS vrd_api vrd_fake_toolkit vrd_test_pdf OpenSSL::Crypto)

vrd_add_test(e2e_test SOURCES e2e_test.cpp
             LIBS VIDEREDEve_Z_64 vrd_api vrd_toolkit vrd_test_pdf vrd_test_tsa
                  Threads::Threads)
target_compile_definitions(e2e_test PRIVATE
  VRD_EXPORTS_LIBRARY="$<TARGET_FILE:VIDEREDEve_Z_64>")

vrd_add_test(cli_test SOURCES cli_test.cpp
             LIBS vrd_cli vrd_api vrd_toolkit vrd_test_pdf vrd_test_tsa)
target_compile_definitions(cli_test PRIVATE VRD_TSVERIFY="$<TARGET_FILE:tsverify>"
                                            VRD_VERSION="${PROJECT_VERSION}")
add_dependencies(cli_test tsverify)

# Verification of a document named by a path, read piecemeal against loaded
# whole, over the recorded document set and stamped documents.
vrd_add_test(document_file_test SOURCES document_file_test.cpp
             LIBS vrd_test_docstage vrd_api vrd_toolkit vrd_test_pdf vrd_test_tsa)
