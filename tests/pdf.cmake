# PDF scanning and signed-content assembly.
#
# vrd_test_pdf: the test-only PDF generator and oracle shared by every suite
# that needs signed documents. It links nothing of the library on purpose.
add_library(vrd_test_pdf STATIC support/PdfBuilder.cpp)
vrd_defaults(vrd_test_pdf)

vrd_add_test(pdf_test SOURCES pdf_test.cpp LIBS vrd_pdf)
vrd_add_test(assemble_test SOURCES assemble_test.cpp LIBS vrd_test_memory_hook vrd_api vrd_test_pdf)

# The document stage against the records of tests/data/docstage_golden.txt;
# docstage_golden_gen writes those records.
find_package(OpenSSL REQUIRED)
add_library(vrd_test_docstage STATIC support/DocStageGolden.cpp)
vrd_defaults(vrd_test_docstage)
target_link_libraries(vrd_test_docstage PUBLIC vrd_api vrd_test_pdf OpenSSL::Crypto)
add_executable(docstage_golden_gen docstage_golden_gen.cpp)
vrd_defaults(docstage_golden_gen)
target_link_libraries(docstage_golden_gen PRIVATE vrd_test_docstage)
vrd_add_test(docstage_test SOURCES docstage_test.cpp LIBS vrd_test_docstage)
if(NOT WIN32)  # run through a POSIX shell
  vrd_add_test(docstage_cli_test SOURCES docstage_cli_test.cpp LIBS vrd_test_docstage)
  target_compile_definitions(docstage_cli_test PRIVATE VRD_TSVERIFY="$<TARGET_FILE:tsverify>")
  add_dependencies(docstage_cli_test tsverify)
endif()
vrd_add_test(document_stage_test SOURCES document_stage_test.cpp LIBS vrd_api vrd_test_pdf)
