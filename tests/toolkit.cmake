# The scripted toolkit double (tests/support/FakeToolkit.h): defines every
# QVTK_ symbol, for tests of code that drives the toolkit.
add_library(vrd_fake_toolkit STATIC ${CMAKE_CURRENT_LIST_DIR}/support/FakeToolkit.cpp)
vrd_defaults(vrd_fake_toolkit)
target_link_libraries(vrd_fake_toolkit PUBLIC vrd_toolkit_headers)

vrd_add_test(fake_toolkit_test SOURCES fake_toolkit_test.cpp LIBS vrd_fake_toolkit)
