# The shipped Linux binaries of a hardened build (see VrdDefaults.cmake):
# BIND_NOW, GNU_RELRO, the stack protector and fortified libc calls.
if(WIN32 OR NOT VRD_HARDEN_LINK_FLAGS OR NOT CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo)$")
  return()
endif()
find_program(VRD_READELF NAMES readelf llvm-readelf REQUIRED)
set(VRD_HARDENED_FILES)
# A missing target stops the generation ($<TARGET_FILE:...> of no target).
set(VRD_SHIPPED_ELF_TARGETS VIDEREDEve_Z_64 vrd_toolkit tsverify)
if(NOT CMAKE_CROSSCOMPILING)
  list(APPEND VRD_SHIPPED_ELF_TARGETS vrd_tsverify_all)  # the --all module
endif()
foreach(target ${VRD_SHIPPED_ELF_TARGETS})
  list(APPEND VRD_HARDENED_FILES "$<TARGET_FILE:${target}>")
endforeach()
list(JOIN VRD_HARDENED_FILES "," VRD_HARDENED_FILES)
add_test(NAME Hardening.ShippedElfBinaries
         COMMAND ${CMAKE_COMMAND} -DREADELF=${VRD_READELF} -DFILES=${VRD_HARDENED_FILES}
                 -DEXECUTABLES=$<TARGET_FILE:tsverify>
                 -P ${CMAKE_CURRENT_SOURCE_DIR}/support/check_elf_hardening.cmake)

# The check itself: a library built without the hardening fails every item.
add_library(vrd_unhardened_probe SHARED support/UnhardenedProbe.cpp)
vrd_defaults(vrd_unhardened_probe)
# (the spelt-out form of -U is not merged with the one the defaults already gave)
target_compile_options(vrd_unhardened_probe PRIVATE -fno-stack-protector "SHELL:-U _FORTIFY_SOURCE")
target_link_options(vrd_unhardened_probe PRIVATE -Wl,-z,lazy,-z,norelro)
add_test(NAME Hardening.CheckRejectsPlainBinary
         COMMAND ${CMAKE_COMMAND} -DREADELF=${VRD_READELF}
                 -DFILES=$<TARGET_FILE:vrd_unhardened_probe>
                 -P ${CMAKE_CURRENT_SOURCE_DIR}/support/check_elf_hardening.cmake)
set_tests_properties(Hardening.CheckRejectsPlainBinary PROPERTIES
  PASS_REGULAR_EXPRESSION
  "no BIND_NOW.*no GNU_RELRO.*__stack_chk_fail not referenced.*no __\\*_chk function")
