# Revocation data as long-term validation reads it: a CRL or OCSP response
# against the long-term test authority. Seeds: the CRLs and OCSP responses of
# tests/data/ltv's documents.
vrd_add_fuzzer(revocation_fuzzer SOURCES revocation_fuzzer.cpp LIBS vrd_report)
target_compile_definitions(revocation_fuzzer PRIVATE VRD_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
