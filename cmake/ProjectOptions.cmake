# Compile options shared by every project target. Warnings are errors in our
# own scripts and CI (they pass QUILLORA_WERROR=ON); a plain configure, as a
# packager runs it, only reports them, so a newer or older compiler's new
# warning never stops a build.
option(QUILLORA_WERROR "Treat compiler warnings as errors" OFF)
add_library(quillora_options INTERFACE)
target_compile_options(quillora_options INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
  -Wcast-align -Woverloaded-virtual -Wformat=2 -Wimplicit-fallthrough)
if(QUILLORA_WERROR)
  target_compile_options(quillora_options INTERFACE -Werror)
endif()
# GCC 12 reports overlapping copies inside std::string concatenation once it
# is inlined at -O2 and above (-Wrestrict); the report is wrong, and it would
# stop every optimised build with warnings as errors.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(quillora_options INTERFACE -Wno-restrict)
endif()

# The C library's checked buffer operations, as Debian's hardening asks of
# installed programs. They need an optimised build; the sanitizer builds check
# more on their own.
if(NOT QUILLORA_SANITIZE AND NOT QUILLORA_FUZZ AND NOT QUILLORA_TSAN)
  target_compile_options(quillora_options INTERFACE
    "$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
endif()

if(QUILLORA_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(QUILLORA_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "QUILLORA_FUZZ needs clang (CMAKE_CXX_COMPILER=clang++)")
  endif()
  # Every library carries coverage feedback for libFuzzer; the harnesses add
  # libFuzzer's own main when they link.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(QUILLORA_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# quillora_add_test(name SOURCES ... LIBS ...)
# One GoogleTest executable; each test case is registered with CTest.
function(quillora_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE quillora_options ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set(props TIMEOUT ${T_TIMEOUT} ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()
