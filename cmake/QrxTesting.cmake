# One small function registers a folder's test executable with CTest.
# Each test process runs with its own temporary XDG_CONFIG_HOME, XDG_STATE_HOME,
# QRX_SIM_STATE and HOME (set up by qrx_testmain), so no test touches the real home folder.
if(QRX_BUILD_TESTS)
  enable_testing()
  if(QRX_GTEST_SOURCE)
    # A cross build cannot use the build machine's GoogleTest: build it from its source with
    # the same compiler, as a part of this build.
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    # Its own build names the libraries GTest::gtest and GTest::gmock, as find_package does.
    add_subdirectory(${QRX_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  else()
    find_package(GTest REQUIRED)
  endif()
  include(GoogleTest)
endif()

# qrx_add_tests(NAME SOURCES src... LIBS lib...)
function(qrx_add_tests name)
  if(NOT QRX_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} qrx_testmain GTest::gtest GTest::gmock)
  # GUI tests render offscreen: the test main sets QT_QPA_PLATFORM itself.
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${QRX_OUTPUT_DIR}
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 120)
endfunction()

# Fuzz targets are built only with clang in the sanitizer build.
if(QRX_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  set(QRX_FUZZERS ON)
else()
  set(QRX_FUZZERS OFF)
endif()

# qrx_fuzzed_library(TARGET)
# A library that a fuzz target links, directly or through the driver module it loads: where fuzz
# targets are built, it carries libFuzzer's coverage instrumentation, so the fuzzer sees which
# paths an input reaches in every layer it drives, not only in the reader itself. The library is
# still compiled once; the tests link the same library and the sanitizer runtime answers the
# instrumentation's calls, so they run and check exactly what they do in the other build.
function(qrx_fuzzed_library target)
  if(QRX_FUZZERS)
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
  endif()
endfunction()

# qrx_add_fuzzer(NAME SOURCES src... LIBS lib... [SECONDS n])
# A libFuzzer target for a text reader. Built only with clang in the sanitizer build, where the
# test run gives it a short run (SECONDS, default 10) as one more CTest test.
function(qrx_add_fuzzer name)
  if(NOT QRX_FUZZERS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "SECONDS" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_SECONDS)
    set(ARG_SECONDS 10)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus)
  file(MAKE_DIRECTORY ${corpus})
  add_test(NAME ${name}
           COMMAND ${name} -max_total_time=${ARG_SECONDS} -rss_limit_mb=2048 ${corpus}
           WORKING_DIRECTORY ${QRX_OUTPUT_DIR})
  set_tests_properties(${name} PROPERTIES TIMEOUT 300
                       ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0;QRX_DRIVER=simulated;XDG_CONFIG_HOME=${CMAKE_CURRENT_BINARY_DIR}/${name}-home;XDG_STATE_HOME=${CMAKE_CURRENT_BINARY_DIR}/${name}-home;QRX_SIM_STATE=${CMAKE_CURRENT_BINARY_DIR}/${name}-home/sim")
endfunction()

# qrx_add_benchmark(NAME SOURCES src... LIBS lib...)
# A Google Benchmark program (not a test) that measures against the simulated processor. Built
# only when benchmarks are wanted and the library is installed.
function(qrx_add_benchmark name)
  if(NOT QRX_BUILD_BENCHMARKS)
    return()
  endif()
  find_package(benchmark QUIET)
  if(NOT benchmark_FOUND)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} qrx_recordspecific benchmark::benchmark)
  if(TARGET qrxvxd)
    add_dependencies(${name} qrxvxd qrxsim)
  endif()
endfunction()
