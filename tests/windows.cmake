# Windows only: the library through the real Win32 services, the shipped DLL
# loaded at run time, and the DLLs' export and import tables.
#
# The test programs find the DLLs beside them, as a deployment would: the
# Windows build puts every program and DLL into one directory
# (CMAKE_RUNTIME_OUTPUT_DIRECTORY, set by scripts/stage-windows.sh).
if(NOT WIN32)
  return()
endif()

# WriteOutputText lives beside the pipeline, which needs some toolkit to link.
vrd_add_test(win32_platform_test SOURCES windows/win32_platform_test.cpp
             LIBS vrd_api vrd_fake_toolkit)

include(${CMAKE_CURRENT_SOURCE_DIR}/support/tsa.cmake)
# Loaded with LoadLibrary, not linked: only the build order ties them.
vrd_add_test(dll_load_test SOURCES windows/dll_load_test.cpp
             LIBS vrd_test_pdf vrd_test_tsa)
add_dependencies(dll_load_test VIDEREDEve_Z_64 vrd_toolkit)

# Export and import tables, read on the build host.
find_program(VRD_READOBJ NAMES llvm-readobj llvm-readobj-16 llvm-readobj-15 llvm-readobj-14
             REQUIRED)
set(check ${CMAKE_CURRENT_SOURCE_DIR}/windows/check_pe_interface.cmake)
# Both DLLs: ASLR with 64-bit entropy and DEP; in a hardened build also the
# stack protector, linked in statically (libssp adds no DLL to the imports).
set(pe_hardening -DCHARACTERISTICS=DYNAMIC_BASE,NX_COMPAT,HIGH_ENTROPY_VA)
if(VRD_HARDEN_LINK_FLAGS AND CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo)$")
  list(APPEND pe_hardening -DSYMBOLS=__stack_chk_fail,__stack_chk_guard)
endif()
# Exactly the two entry points at ordinals 1 and 2; imports: the toolkit by
# its name and the two Windows DLLs every mingw-w64 program needs.
add_test(NAME DllInterface.MainDllExportsAndImports
         COMMAND ${CMAKE_COMMAND} -DREADOBJ=${VRD_READOBJ}
                 -DFILE=$<TARGET_FILE:VIDEREDEve_Z_64>
                 -DEXPORTS=1:QVTSPdfSigVerifyF,2:QVTSPdfSigVerifyD
                 -DIMPORTS=DIRIrozeza64Z30-e3.4.2.19.dll,KERNEL32.dll,msvcrt.dll
                 ${pe_hardening} -P ${check})
# The toolkit exports its sixteen QVTK_ operations and the version query of
# the tools, nothing else, and imports Windows system DLLs only (static
# OpenSSL needs a few).
add_test(NAME DllInterface.ToolkitDllExportsAndImports
         COMMAND ${CMAKE_COMMAND} -DREADOBJ=${VRD_READOBJ}
                 -DFILE=$<TARGET_FILE:vrd_toolkit>
                 -DEXPORT_PREFIX=QVTK_ -DEXPORT_COUNT=17
                 -DALLOWED_IMPORTS=KERNEL32.dll,msvcrt.dll,ADVAPI32.dll,USER32.dll,WS2_32.dll,CRYPT32.dll,bcrypt.dll,GDI32.dll
                 ${pe_hardening} -P ${check})
# The --all module exports its four entry points, nothing of the code linked
# into it, and imports the toolkit and Windows system DLLs only.
if(VRD_REPORT)
  add_test(NAME DllInterface.AllModuleExportsAndImports
           COMMAND ${CMAKE_COMMAND} -DREADOBJ=${VRD_READOBJ}
                   -DFILE=$<TARGET_FILE:vrd_tsverify_all>
                   -DEXPORT_PREFIX=VrdTsverify -DEXPORT_COUNT=4
                   -DALLOWED_IMPORTS=DIRIrozeza64Z30-e3.4.2.19.dll,KERNEL32.dll,msvcrt.dll,ADVAPI32.dll,USER32.dll,WS2_32.dll,CRYPT32.dll,bcrypt.dll,GDI32.dll
                   ${pe_hardening} -P ${check})
endif()
# No program of the build depends on a mingw-w64 runtime DLL.
add_test(NAME DllInterface.NoMingwRuntimeImports
         COMMAND ${CMAKE_COMMAND} -DREADOBJ=${VRD_READOBJ}
                 -DDIRECTORY=$<TARGET_FILE_DIR:VIDEREDEve_Z_64>
                 -P ${check})
