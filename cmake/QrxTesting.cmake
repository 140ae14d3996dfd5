# One small function registers a folder's test executable with CTest.
# Each test process runs with its own temporary XDG_CONFIG_HOME, XDG_STATE_HOME,
# QRX_SIM_STATE and HOME (set up by qrx_testmain), so no test touches the real home folder.
if(QRX_BUILD_TESTS)
  enable_testing()
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()

# qrx_add_tests(NAME SOURCES src... LIBS lib... [ENV VAR=VALUE...])
function(qrx_add_tests name)
  if(NOT QRX_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} qrx_testmain GTest::gtest GTest::gmock)
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${QRX_OUTPUT_DIR}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ASAN_OPTIONS=detect_leaks=0;${ARG_ENV}"
               TIMEOUT 120)
endfunction()
