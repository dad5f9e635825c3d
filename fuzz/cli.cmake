# The readers of tsverify's own inputs: the --files-from list, and the
# --trust-anchor PEM/DER reader with the accepted roots installed for a real
# verification (samples/sample.pdf).
vrd_add_fuzzer(files_from_fuzzer SOURCES files_from_fuzzer.cpp LIBS vrd_cli vrd_api vrd_toolkit)
vrd_add_fuzzer(trust_anchor_fuzzer SOURCES trust_anchor_fuzzer.cpp
               LIBS vrd_cli vrd_api vrd_toolkit)
target_compile_definitions(trust_anchor_fuzzer PRIVATE VRD_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
