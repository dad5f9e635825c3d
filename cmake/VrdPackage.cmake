# The Debian package (`make package` in the build tree, or `cpack -G DEB`):
# one .deb with everything `cmake --install` installs, under /usr. Its
# Depends: line is computed by dpkg-shlibdeps from the ELF files, so it names
# the OpenSSL runtime (libssl3) and the C/C++ runtimes that were linked.
if(WIN32)
  return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vrd-tsverify)
set(CPACK_PACKAGE_VENDOR "vrd developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_CONTACT "vrd developers <vrd@example.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The package's own shared libraries are found in the staging tree.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# The Python package (lib/python3/dist-packages/vrd) needs only python3;
# its Dask batch, python3-dask and python3-distributed.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-dask, python3-distributed")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Verifies the RFC 3161 time-stamp token carried in the signature of PDF\n"
    "documents: the shared library libVIDEREDEve_Z_64 with its C header\n"
    "<vrd/tsverify.h>, CMake and pkg-config files, the tsverify command and\n"
    "the Python package vrd (with python3 -m vrd.batch for Dask clusters).")
string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
include(CPack)
