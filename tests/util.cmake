vrd_add_test(util_test SOURCES util_test.cpp LIBS vrd_util)
vrd_add_test(platform_test SOURCES platform_test.cpp LIBS vrd_util)
