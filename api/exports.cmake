# VIDEREDEve_Z_64: the shared library with the two exported entry points.
# Everything else stays hidden: the library's own code through
# -fvisibility=hidden, and whatever the static libraries bring along through
# the version script (ELF) or the .def file (Windows, which also fixes the
# ordinals).
set(VRD_EXPORTS_TARGET VIDEREDEve_Z_64)
add_library(${VRD_EXPORTS_TARGET} SHARED "${CMAKE_CURRENT_SOURCE_DIR}/Exports.cpp")
vrd_defaults(${VRD_EXPORTS_TARGET})
target_link_libraries(${VRD_EXPORTS_TARGET} PRIVATE vrd_api)
if(TARGET vrd_toolkit)
  target_link_libraries(${VRD_EXPORTS_TARGET} PRIVATE vrd_toolkit)
endif()
set_target_properties(${VRD_EXPORTS_TARGET} PROPERTIES
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
elseif(NOT APPLE)
  set(VRD_EXPORTS_MAP "${CMAKE_CURRENT_SOURCE_DIR}/VIDEREDEve_Z_64.map")
  target_link_options(${VRD_EXPORTS_TARGET} PRIVATE "LINKER:--version-script=${VRD_EXPORTS_MAP}")
  set_property(TARGET ${VRD_EXPORTS_TARGET} APPEND PROPERTY LINK_DEPENDS "${VRD_EXPORTS_MAP}")
endif()
