# Project-wide compile settings, applied per target through vrd_defaults().
set(VRD_WARNINGS -Wall -Wextra -Werror)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  list(APPEND VRD_WARNINGS -Wshadow -Wformat=2)
endif()

set(VRD_EXTRA_FLAGS)
if(VRD_UNSIGNED_CHAR)
  list(APPEND VRD_EXTRA_FLAGS -funsigned-char)
endif()

if(VRD_SANITIZE)
  set(VRD_SAN_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all
                    -fno-omit-frame-pointer)
  add_compile_options(${VRD_SAN_FLAGS})
  add_link_options(${VRD_SAN_FLAGS})
endif()

if(VRD_FUZZ)
  # Every library is instrumented for coverage and checked; the fuzz targets
  # add the libFuzzer driver themselves.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

add_compile_options(${VRD_EXTRA_FLAGS})

if(WIN32)
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX)
endif()

function(vrd_defaults target)
  target_compile_options(${target} PRIVATE ${VRD_WARNINGS})
  # The source tree is the include root while building, with include/ for the
  # public header; only include/ is installed (see include/CMakeLists.txt).
  target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
                                              $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>)
endfunction()
