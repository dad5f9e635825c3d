# The whole verification through QVTSPdfSigVerifyD over the OpenSSL-backed
# toolkit (api/Exports.cpp compiled in, so the fuzzer sees one copy of the
# code). Seeds: samples/sample.pdf and documents stamped by the test
# authority (tests/support/PdfBuilder.h, TokenSigner.h): SHA-256, SHA-512 with
# CR LF, seal impression, encrypted seal impression, and SHA-1 (2103).
vrd_add_fuzzer(verify_data_fuzzer SOURCES verify_data_fuzzer.cpp
               ${PROJECT_SOURCE_DIR}/api/Exports.cpp LIBS vrd_cli vrd_api vrd_toolkit)
target_compile_definitions(verify_data_fuzzer PRIVATE VRD_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
