vrd_add_test(util_test SOURCES util_test.cpp LIBS vrd_test_memory_hook vrd_util)
# The wipe tests look at ByteString's block, which only this program can see.
target_compile_definitions(util_test PRIVATE VRD_BYTESTRING_INSPECTION)
vrd_add_test(platform_test SOURCES platform_test.cpp LIBS vrd_util)
