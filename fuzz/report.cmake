# The document report over arbitrary bytes (qpdf, token checks, digests).
# Seeds: small documents of tests/data/report.
vrd_add_fuzzer(report_fuzzer SOURCES report_fuzzer.cpp LIBS vrd_report)
