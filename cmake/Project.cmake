# Shared build settings and helpers.

find_package(PkgConfig REQUIRED)

set(MPAY_WARNINGS -Wall -Wextra)

# The linker: mold where it is installed (scripts/install-deps), else lld,
# else the compiler's own. Relinking what `make run` builds takes 0.2 s of
# CPU with mold, 1.1 s with lld and 3.8 s with the default one; the test
# programs link the same libraries a hundred times over. MPAY_LINKER names one
# ("mold", "lld", "gold", "bfd"), or "default" for the compiler's choice.
set(MPAY_LINKER "" CACHE STRING "Linker (mold, lld, gold, bfd or default; empty: the fastest found)")
include(CheckLinkerFlag)
set(mpay_linkers ${MPAY_LINKER})
if(NOT MPAY_LINKER)
  set(mpay_linkers mold lld)
endif()
foreach(linker IN LISTS mpay_linkers)
  if(linker STREQUAL "default")
    break()
  endif()
  string(MAKE_C_IDENTIFIER "MPAY_HAVE_LD_${linker}" have)
  check_linker_flag(CXX "-fuse-ld=${linker}" ${have})
  if(${have})
    add_link_options(-fuse-ld=${linker})
    break()
  elseif(MPAY_LINKER)
    message(FATAL_ERROR "MPAY_LINKER=${MPAY_LINKER}: the compiler cannot link with it")
  endif()
endforeach()

if(MPAY_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# Hardened code in every build we ship or test as shipped; the sanitizer and
# fuzz builds have their own instrumentation and are left alone. FORTIFY
# needs the optimizer, so a Debug build goes without it. The compiler's
# switches are recorded in each binary (.GCC.command.line), so that
# scripts/check-elf can prove them on the files themselves.
set(MPAY_HARDENED OFF)
if(NOT MPAY_SANITIZE AND NOT MPAY_FUZZ)
  set(MPAY_HARDENED ON)
  include(CheckPIESupported)
  check_pie_supported(LANGUAGES C CXX)
  add_compile_options(-fstack-protector-strong -fstack-clash-protection -fcf-protection
                      -frecord-gcc-switches)
  add_compile_options("$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
  add_link_options(-Wl,-z,relro,-z,now -Wl,-z,noexecstack)
endif()

# Narrow string literals of a target become GBK bytes (sources stay UTF-8).
# clang cannot do this, so sources with Chinese literals are never built by
# the clang (fuzz) configuration.
set(MPAY_GBK_OPTIONS -finput-charset=UTF-8 -fexec-charset=GBK)
function(mpay_gbk target)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE ${MPAY_GBK_OPTIONS})
  endif()
endfunction()

# The same for some sources of a target, in the current folder (whose other
# sources may include <chrono>, which GBK cannot compile). They take no
# precompiled header: those were made for UTF-8.
function(mpay_gbk_sources)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    set_source_files_properties(${ARGN} PROPERTIES COMPILE_OPTIONS "${MPAY_GBK_OPTIONS}")
  endif()
  set_source_files_properties(${ARGN} PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
endfunction()

# Common settings for every target of ours.
function(mpay_target target)
  target_compile_options(${target} PRIVATE ${MPAY_WARNINGS})
  target_compile_features(${target} PUBLIC cxx_std_20)
endfunction()

# mpay_library(NAME [SHARED|STATIC] SOURCES ... [GBK])
# A library with hidden symbols by default; export with MPAY_EXPORT.
function(mpay_library name)
  cmake_parse_arguments(ARG "SHARED;STATIC;GBK" "" "SOURCES" ${ARGN})
  set(kind STATIC)
  if(ARG_SHARED)
    set(kind SHARED)
  endif()
  add_library(${name} ${kind} ${ARG_SOURCES})
  mpay_target(${name})
  set_target_properties(${name} PROPERTIES CXX_VISIBILITY_PRESET hidden
                                           VISIBILITY_INLINES_HIDDEN ON)
  if(ARG_GBK)
    mpay_gbk(${name})
  endif()
endfunction()

# mpay_test(NAME SOURCES ... LIBS ... [LABELS ...] [TIMEOUT S] [GBK]
#           [INCLUDES DIR ...] [PROGRAMS MACRO=TARGET ...])
# One GoogleTest executable registered with CTest under the given labels.
# INCLUDES: more include folders. PROGRAMS: each MACRO is defined as the
# path of the built TARGET (a program or module the test runs or loads),
# which is built before the test.
function(mpay_test name)
  cmake_parse_arguments(ARG "GBK" "TIMEOUT" "SOURCES;LIBS;LABELS;INCLUDES;PROGRAMS" ${ARGN})
  find_package(GTest REQUIRED)
  add_executable(${name} ${ARG_SOURCES})
  mpay_target(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock
                                        GTest::gtest_main)
  if(ARG_GBK)
    mpay_gbk(${name})
  endif()
  target_include_directories(${name} PRIVATE ${ARG_INCLUDES})
  foreach(program IN LISTS ARG_PROGRAMS)
    string(REPLACE "=" ";" pair ${program})
    list(GET pair 0 macro)
    list(GET pair 1 target)
    target_compile_definitions(${name} PRIVATE ${macro}="$<TARGET_FILE:${target}>")
    add_dependencies(${name} ${target})
  endforeach()
  if(NOT ARG_LABELS)
    set(ARG_LABELS unit)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(
    ${name}
    PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT ${ARG_TIMEOUT}
               ENVIRONMENT
               "QT_QPA_PLATFORM=offscreen;XDG_RUNTIME_DIR=${CMAKE_BINARY_DIR}/xdg-runtime;MPAY_BUILD_DIR=${CMAKE_BINARY_DIR};MPAY_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
endfunction()

# mpay_bench(NAME SOURCES ... LIBS ...)
function(mpay_bench name)
  cmake_parse_arguments(ARG "GBK" "" "SOURCES;LIBS" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(${name} ${ARG_SOURCES})
  mpay_target(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/bench)
  if(ARG_GBK)
    mpay_gbk(${name})
  endif()
endfunction()

# Adds every direct sub-folder of the current folder that has a CMakeLists.txt.
function(mpay_add_subfolders)
  file(GLOB children RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child}
       AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# mpay_all_targets(VAR): every target this configuration defines, in every
# folder. Called once all folders are added.
function(mpay_all_targets var)
  set(folders ${CMAKE_SOURCE_DIR})
  set(all "")
  while(folders)
    list(POP_FRONT folders folder)
    get_property(subfolders DIRECTORY ${folder} PROPERTY SUBDIRECTORIES)
    list(APPEND folders ${subfolders})
    get_property(targets DIRECTORY ${folder} PROPERTY BUILDSYSTEM_TARGETS)
    list(APPEND all ${targets})
  endwhile()
  set(${var} ${all} PARENT_SCOPE)
endfunction()

# mpay_write_binary_list(FILE): FILE names, one a line, every executable,
# shared library and module that this configuration builds (for
# scripts/check-elf).
function(mpay_write_binary_list output)
  mpay_all_targets(targets)
  set(paths "")
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(type MATCHES "^(EXECUTABLE|SHARED_LIBRARY|MODULE_LIBRARY)$")
      string(APPEND paths "$<TARGET_FILE:${target}>\n")
    endif()
  endforeach()
  file(GENERATE OUTPUT ${output} CONTENT "${paths}")
endfunction()

include(${CMAKE_CURRENT_LIST_DIR}/Precompiled.cmake)
