# PDF scanning and signed-content assembly.
#
# vrd_test_pdf: the test-only PDF generator and oracle shared by every suite
# that needs signed documents. It links nothing of the library on purpose.
add_library(vrd_test_pdf STATIC support/PdfBuilder.cpp)
vrd_defaults(vrd_test_pdf)

vrd_add_test(pdf_test SOURCES pdf_test.cpp LIBS vrd_pdf)
vrd_add_test(assemble_test SOURCES assemble_test.cpp LIBS vrd_api vrd_test_pdf)
