# Checks that ELF binaries carry the hardening of the optimised builds.
#
#   cmake -DREADELF=<readelf> -DFILES=a.so,b [-DEXECUTABLES=b] -P check_elf_hardening.cmake
# For every file:
#  - the dynamic section asks for BIND_NOW (DT_FLAGS BIND_NOW or DT_FLAGS_1
#    NOW) and a GNU_RELRO segment exists: the GOT is resolved at load time and
#    then made read-only;
#  - __stack_chk_fail is an undefined dynamic symbol (the stack protector);
#  - at least one other __*_chk function is (the fortified libc calls).
# Files also named in EXECUTABLES must be position-independent (ELF type DYN).
cmake_minimum_required(VERSION 3.20)

function(run_readelf file option out_var)
  execute_process(COMMAND ${READELF} -W ${option} ${file}
                  OUTPUT_VARIABLE text ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${READELF} -W ${option} ${file} failed (${rc}): ${err}")
  endif()
  set(${out_var} "${text}" PARENT_SCOPE)
endfunction()

if(NOT DEFINED FILES)
  message(FATAL_ERROR "FILES is required")
endif()
string(REPLACE "," ";" FILES "${FILES}")
if(DEFINED EXECUTABLES)
  string(REPLACE "," ";" EXECUTABLES "${EXECUTABLES}")
endif()

set(failures)
foreach(file IN LISTS FILES)
  if(NOT EXISTS "${file}")
    list(APPEND failures "${file}: no such file")
    continue()
  endif()
  get_filename_component(name "${file}" NAME)

  run_readelf(${file} -d dynamic)
  if(NOT dynamic MATCHES "\\(FLAGS\\)[^\n]*BIND_NOW" AND
     NOT dynamic MATCHES "\\(FLAGS_1\\)[^\n]*Flags:[^\n]* NOW")
    list(APPEND failures "${name}: no BIND_NOW (link with -z now)")
  endif()

  run_readelf(${file} -l segments)
  if(NOT segments MATCHES "\n *GNU_RELRO ")
    list(APPEND failures "${name}: no GNU_RELRO segment (link with -z relro)")
  endif()

  # Undefined dynamic symbols: "<num>: 0... 0 FUNC GLOBAL DEFAULT UND name@VER".
  run_readelf(${file} --dyn-syms symbols)
  set(protector FALSE)
  if(symbols MATCHES " UND __stack_chk_fail(@|\n)")
    set(protector TRUE)
  endif()
  string(REGEX MATCHALL " UND __[A-Za-z0-9_]+_chk(@|\n)" checked "${symbols}")
  set(fortified)
  foreach(entry IN LISTS checked)
    string(REGEX REPLACE "^ UND ([A-Za-z0-9_]+).*" "\\1" symbol "${entry}")
    list(APPEND fortified ${symbol})
  endforeach()
  list(REMOVE_DUPLICATES fortified)
  if(NOT protector)
    list(APPEND failures "${name}: __stack_chk_fail not referenced (no stack protector)")
  endif()
  if(NOT fortified)
    list(APPEND failures "${name}: no __*_chk function referenced (no _FORTIFY_SOURCE)")
  endif()

  if(file IN_LIST EXECUTABLES)
    run_readelf(${file} -h header)
    if(NOT header MATCHES "Type: +DYN")
      list(APPEND failures "${name}: not position-independent")
    endif()
  endif()
  list(LENGTH failures failed)
  if(failed EQUAL 0)
    message(STATUS "${name}: BIND_NOW, GNU_RELRO, __stack_chk_fail; fortified: ${fortified}")
  endif()
endforeach()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "ELF hardening check failed:\n  ${text}")
endif()
