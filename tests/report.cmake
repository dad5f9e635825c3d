# report_test: the report module (report/Report.h) on the committed documents
# of tests/data/report (scripts/make-report-docs.py), and `tsverify --all`.
if(NOT CMAKE_CROSSCOMPILING)
  vrd_add_test(report_test SOURCES report_test.cpp LIBS vrd_report vrd_toolkit OpenSSL::Crypto)
  # qpdf 11: no PointerHolder compatibility, std::shared_ptr only.
  target_compile_definitions(report_test PRIVATE POINTERHOLDER_TRANSITION=4
                                                 VRD_TSVERIFY="$<TARGET_FILE:tsverify>"
                                                 VRD_TSVERIFY_ALL_MODULE="$<TARGET_FILE:vrd_tsverify_all>")
  add_dependencies(report_test tsverify)
endif()
