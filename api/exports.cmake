# VIDEREDEve_Z_64: the shared library with the two exported entry points,
# declared by the public header vrd/tsverify.h. Everything else stays hidden:
# the library's own code through -fvisibility=hidden, and whatever the static
# libraries bring along through the version script (ELF) or the .def file
# (Windows, which also fixes the ordinals).
set(VRD_EXPORTS_TARGET VIDEREDEve_Z_64)
add_library(${VRD_EXPORTS_TARGET} SHARED "${CMAKE_CURRENT_SOURCE_DIR}/Exports.cpp")
vrd_defaults(${VRD_EXPORTS_TARGET})
target_compile_definitions(${VRD_EXPORTS_TARGET} PRIVATE VRD_TSV_BUILDING_LIBRARY)
target_link_libraries(${VRD_EXPORTS_TARGET} PUBLIC vrd_headers PRIVATE vrd_api vrd_toolkit)
# Installed as libVIDEREDEve_Z_64.so.<version> with the SONAME
# libVIDEREDEve_Z_64.so.<major>; it finds the toolkit beside itself.
set_target_properties(${VRD_EXPORTS_TARGET} PROPERTIES
  EXPORT_NAME verifier
  INSTALL_RPATH "$ORIGIN"
  C_VISIBILITY_PRESET hidden
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
if(WIN32)
  set_target_properties(${VRD_EXPORTS_TARGET} PROPERTIES PREFIX "")
  target_sources(${VRD_EXPORTS_TARGET} PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}/VIDEREDEve_Z_64.def")
  # The stack protector's runtime without libssp's ADVAPI32.dll import.
  if(VRD_HARDEN_COMPILE_FLAGS)
    target_sources(${VRD_EXPORTS_TARGET} PRIVATE
      "$<$<CONFIG:Release,RelWithDebInfo>:${CMAKE_CURRENT_SOURCE_DIR}/StackProtectorWin.cpp>")
  endif()
else()
  set_target_properties(${VRD_EXPORTS_TARGET} PROPERTIES
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR})
endif()
if(NOT WIN32 AND NOT APPLE)
  set(VRD_EXPORTS_MAP "${CMAKE_CURRENT_SOURCE_DIR}/VIDEREDEve_Z_64.map")
  target_link_options(${VRD_EXPORTS_TARGET} PRIVATE "LINKER:--version-script=${VRD_EXPORTS_MAP}")
  set_property(TARGET ${VRD_EXPORTS_TARGET} APPEND PROPERTY LINK_DEPENDS "${VRD_EXPORTS_MAP}")
endif()
