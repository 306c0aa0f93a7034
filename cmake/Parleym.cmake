# Build-wide settings and helpers shared by every folder.
if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
  set(PARLEYM_WINDOWS ON)
  set(PARLEYM_ARCH ${CMAKE_SYSTEM_PROCESSOR})
else()
  set(PARLEYM_WINDOWS OFF)
  set(PARLEYM_ARCH native)
endif()

# Tests run natively and in the x86_64 Windows build (under wine64). The i686 release
# build adds only the tests marked I686 (what only 32 bits can show) and the run of the
# release itself, both run in the 32-bit Wine of scripts/i686/; the deliverables never
# link any of it.
if(PARLEYM_ARCH STREQUAL "i686")
  set(PARLEYM_TESTS_DEFAULT OFF)
  set(PARLEYM_I686_TESTS_DEFAULT ON)
else()
  set(PARLEYM_TESTS_DEFAULT ON)
  set(PARLEYM_I686_TESTS_DEFAULT OFF)
endif()
option(PARLEYM_BUILD_TESTS "Build and register tests" ${PARLEYM_TESTS_DEFAULT})
option(PARLEYM_I686_TESTS "Build and register the i686 run's tests only" ${PARLEYM_I686_TESTS_DEFAULT})
option(PARLEYM_SANITIZE "Native build with AddressSanitizer and UBSan" ON)
set(PARLEYM_CACHE "$ENV{PARLEYM_CACHE}" CACHE PATH "Where set-up keeps Crypto++ builds")
if(NOT PARLEYM_CACHE)
  if(DEFINED ENV{XDG_CACHE_HOME})
    set(PARLEYM_CACHE "$ENV{XDG_CACHE_HOME}/parleym")
  else()
    set(PARLEYM_CACHE "$ENV{HOME}/.cache/parleym")
  endif()
endif()

if(PARLEYM_WINDOWS)
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0501 WINVER=0x0501 _WIN32_IE=0x0600)
  # Static everything: the results import only Windows' own DLLs.
  set(CMAKE_EXE_LINKER_FLAGS "${CMAKE_EXE_LINKER_FLAGS} -static -static-libgcc -static-libstdc++")
  set(CMAKE_SHARED_LINKER_FLAGS "${CMAKE_SHARED_LINKER_FLAGS} -static -static-libgcc -static-libstdc++ -Wl,--kill-at")
  add_library(parleym_cryptopp STATIC IMPORTED GLOBAL)
  set_target_properties(parleym_cryptopp PROPERTIES
    IMPORTED_LOCATION ${PARLEYM_CACHE}/cryptopp-${PARLEYM_ARCH}/lib/libcryptopp.a
    INTERFACE_INCLUDE_DIRECTORIES ${PARLEYM_CACHE}/cryptopp-${PARLEYM_ARCH}/include)
  if(NOT EXISTS ${PARLEYM_CACHE}/cryptopp-${PARLEYM_ARCH}/lib/libcryptopp.a)
    message(FATAL_ERROR "Crypto++ for ${PARLEYM_ARCH} missing: run scripts/setup.sh")
  endif()
else()
  add_library(parleym_cryptopp INTERFACE)
  target_link_libraries(parleym_cryptopp INTERFACE crypto++)
  if(PARLEYM_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
  endif()
endif()

function(parleym_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

function(parleym_ensure_nonempty target)
  get_target_property(srcs ${target} SOURCES)
  if(NOT srcs)
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/empty.cpp)
  endif()
endfunction()

if(PARLEYM_BUILD_TESTS OR PARLEYM_I686_TESTS)
  enable_testing()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Objects, not an archive: nothing calls the check, it registers itself.
  add_library(parleym_swallowed_check OBJECT ${PROJECT_SOURCE_DIR}/tests/support/SwallowedCheck.cpp)
  target_include_directories(parleym_swallowed_check PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(parleym_swallowed_check PUBLIC parleym_shared GTest::gtest)
  parleym_warnings(parleym_swallowed_check)
endif()

# parleym_add_test(NAME name [I686] SOURCES ... [LIBS ...] [LABELS ...])
# One GoogleTest program, registered as one CTest test. Windows tests run under
# wine through CMAKE_CROSSCOMPILING_EMULATOR, in the prefix scripts/test.sh makes.
# I686: also built in the i686 flavour, where it runs in the 32-bit Wine.
function(parleym_add_test)
  cmake_parse_arguments(T "I686" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT PARLEYM_BUILD_TESTS AND NOT (T_I686 AND PARLEYM_I686_TESTS))
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} parleym_swallowed_check GTest::gtest GTest::gtest_main)
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR})
  parleym_warnings(${T_NAME})
  if(PARLEYM_ARCH STREQUAL "i686")
    set_target_properties(${T_NAME} PROPERTIES WIN32_EXECUTABLE OFF)
    set(labels i686 ${T_LABELS})
  elseif(PARLEYM_WINDOWS)
    set_target_properties(${T_NAME} PROPERTIES WIN32_EXECUTABLE OFF)
    set(labels wine ${T_LABELS})
  else()
    set(labels native ${T_LABELS})
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_color=no)
  set_tests_properties(${T_NAME} PROPERTIES LABELS "${labels}"
    ENVIRONMENT "PARLEYM_SOURCE_DIR=${PROJECT_SOURCE_DIR};PARLEYM_BINARY_DIR=${CMAKE_BINARY_DIR}")
  if(PARLEYM_WINDOWS)
    # Under Wine a program that crashes exits with 0 once the crash dialog is off (the
    # test bench turns it off): only a finished run without a failure passes.
    set_tests_properties(${T_NAME} PROPERTIES
      PASS_REGULAR_EXPRESSION "\\[  PASSED  \\]" FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]")
  endif()
endfunction()

# parleym_add_scenario_test(NAME name SCRIPT file.py [I686] [LABELS ...] [TIMEOUT s] [ENVIRONMENT VAR=value ...])
# A Python scenario in this folder (the test bench's driver, olefile checks), run by the
# system python3, which has olefile. It finds the trees in PARLEYM_SOURCE_DIR and
# PARLEYM_BINARY_DIR and starts Wine itself. Windows flavours only; LABELS follow the
# platform's (default testbench), TIMEOUT defaults to 300 s.
# I686: registered in the i686 flavour too, where it runs in the 32-bit Wine.
function(parleym_add_scenario_test)
  cmake_parse_arguments(T "I686" "NAME;SCRIPT;TIMEOUT" "LABELS;ENVIRONMENT" ${ARGN})
  if(NOT PARLEYM_WINDOWS OR NOT (PARLEYM_BUILD_TESTS OR (T_I686 AND PARLEYM_I686_TESTS)))
    return()
  endif()
  if(NOT T_LABELS)
    set(T_LABELS testbench)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  if(PARLEYM_ARCH STREQUAL "i686")
    set(labels i686 ${T_LABELS})
  else()
    set(labels wine ${T_LABELS})
  endif()
  set(environment PARLEYM_SOURCE_DIR=${PROJECT_SOURCE_DIR} PARLEYM_BINARY_DIR=${CMAKE_BINARY_DIR} ${T_ENVIRONMENT})
  add_test(NAME ${T_NAME} COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/${T_SCRIPT})
  set_tests_properties(${T_NAME} PROPERTIES LABELS "${labels}" TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${environment}")
endfunction()
