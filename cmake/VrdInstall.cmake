# What `cmake --install` puts under the prefix, and the Debian package made
# from the same rules (`cpack -G DEB`, `make package`):
#   lib/      libVIDEREDEve_Z_64.so.<version> (SONAME .so.<major>) and the
#             crypto toolkit it loads, libDIRIrozeza64Z30-e3.4.2.19.so.<major>
#   include/  vrd/tsverify.h
#   bin/      tsverify (RUNPATH $ORIGIN/../lib: the prefix can move)
#   lib/vrd/  libvrd_tsverify_all.so, the module tsverify loads for --all
#   share/man/man1/tsverify.1
#   lib/cmake/vrd/  vrd-config.cmake: find_package(vrd CONFIG) -> vrd::verifier
#   lib/pkgconfig/vrd.pc
#   lib/python3/dist-packages/vrd/  the Python package (VRD_PYTHON_SITEDIR),
#             with _installed.py naming the way to lib/ from there
# Nothing of the tests, benchmarks or static libraries is installed.
include(CMakePackageConfigHelpers)

set(VRD_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/vrd")

install(TARGETS VIDEREDEve_Z_64 vrd_toolkit vrd_headers EXPORT vrd-targets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
          NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(TARGETS tsverify RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
if(VRD_REPORT)  # the --all module, built where the report is
  if(WIN32)  # beside tsverify.exe, where it looks for the module
    install(TARGETS vrd_tsverify_all LIBRARY DESTINATION ${CMAKE_INSTALL_BINDIR}
            COMPONENT runtime)
  else()
    install(TARGETS vrd_tsverify_all LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/vrd
            COMPONENT runtime)
  endif()
endif()
install(FILES ${PROJECT_SOURCE_DIR}/include/vrd/tsverify.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vrd COMPONENT development)
install(FILES ${PROJECT_SOURCE_DIR}/cli/tsverify.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)

install(EXPORT vrd-targets NAMESPACE vrd:: DESTINATION ${VRD_INSTALL_CMAKEDIR}
  COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/vrd-config.cmake.in
  ${PROJECT_BINARY_DIR}/vrd-config.cmake INSTALL_DESTINATION ${VRD_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/vrd-config-version.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/vrd-config.cmake ${PROJECT_BINARY_DIR}/vrd-config-version.cmake
  DESTINATION ${VRD_INSTALL_CMAKEDIR} COMPONENT development)

# pkg-config: paths relative to the .pc file's own location, so a moved
# prefix still works (pkg-config sets pcfiledir).
file(RELATIVE_PATH VRD_PC_TO_PREFIX "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
string(REGEX REPLACE "/$" "" VRD_PC_TO_PREFIX "${VRD_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/vrd.pc.in ${PROJECT_BINARY_DIR}/vrd.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vrd.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT development)

# The Python package (python/vrd), into the prefix's Python site directory:
# Debian's for /usr (as in the .deb); for another prefix, name the one its
# Python reads, e.g. -DVRD_PYTHON_SITEDIR=lib/python3.11/dist-packages for
# /usr/local, or add the folder to PYTHONPATH.
if(NOT WIN32)
  set(VRD_PYTHON_SITEDIR "${CMAKE_INSTALL_LIBDIR}/python3/dist-packages" CACHE STRING
      "Where the Python package is installed, relative to the prefix")
  file(RELATIVE_PATH VRD_PYTHON_TO_LIB "/${VRD_PYTHON_SITEDIR}/vrd" "/${CMAKE_INSTALL_LIBDIR}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/vrd_installed.py.in
    ${PROJECT_BINARY_DIR}/python/_installed.py @ONLY)
  set(VRD_PYTHON_FILES __init__.py _library.py batch.py py.typed)
  list(TRANSFORM VRD_PYTHON_FILES PREPEND ${PROJECT_SOURCE_DIR}/python/vrd/)
  install(FILES ${VRD_PYTHON_FILES} ${PROJECT_BINARY_DIR}/python/_installed.py
    DESTINATION ${VRD_PYTHON_SITEDIR}/vrd COMPONENT runtime)
endif()

include(${PROJECT_SOURCE_DIR}/cmake/VrdPackage.cmake)
