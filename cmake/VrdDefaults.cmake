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

# Hardening of the optimised builds (Release, RelWithDebInfo), for every
# target, as a distribution builds a package (dpkg-buildflags with
# hardening=+all): stack protector, fortified libc calls, stack-clash probes,
# CET branch markers, and a read-only GOT resolved at load time. The sanitizer
# and fuzz builds leave it out: _FORTIFY_SOURCE needs optimisation and its
# checked calls bypass the sanitizers' interceptors. VRD_HARDEN=OFF gives the
# plain build that the benchmarks compare against.
option(VRD_HARDEN "Hardened Release and RelWithDebInfo builds" ON)
set(VRD_HARDEN_COMPILE_FLAGS)
set(VRD_HARDEN_LINK_FLAGS)
if(VRD_HARDEN AND NOT VRD_SANITIZE AND NOT VRD_FUZZ
   AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  if(WIN32)
    # mingw-w64: the stack protector and the fortified calls come from libssp,
    # linked statically (the toolchain links everything with -static), so no
    # mingw runtime DLL is imported; the main DLL seeds its own guard
    # (api/StackProtectorWin.cpp), since libssp's seeding imports ADVAPI32.dll.
    # Windows probes every large stack frame itself (___chkstk_ms), so there is
    # no stack-clash option; CET markers and a read-only GOT have no PE
    # counterpart. Control Flow Guard (-mguard=cf, --guard-cf) needs clang and
    # lld: GCC 12 and GNU ld 2.40 do not offer it. ASLR (64-bit, high entropy)
    # and DEP are stated even though binutils sets them by default.
    list(APPEND VRD_HARDEN_COMPILE_FLAGS -fstack-protector-strong -U_FORTIFY_SOURCE
         -D_FORTIFY_SOURCE=2)
    list(APPEND VRD_HARDEN_LINK_FLAGS -fstack-protector-strong -Wl,--dynamicbase
         -Wl,--nxcompat -Wl,--high-entropy-va)
  else()
    list(APPEND VRD_HARDEN_COMPILE_FLAGS -fstack-protector-strong -fstack-clash-protection
         -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2)
    if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i.86)$")
      list(APPEND VRD_HARDEN_COMPILE_FLAGS -fcf-protection)
    endif()
    list(APPEND VRD_HARDEN_LINK_FLAGS -Wl,-z,relro,-z,now)
  endif()
  add_compile_options("$<$<CONFIG:Release,RelWithDebInfo>:${VRD_HARDEN_COMPILE_FLAGS}>")
  add_link_options("$<$<CONFIG:Release,RelWithDebInfo>:${VRD_HARDEN_LINK_FLAGS}>")
endif()

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
