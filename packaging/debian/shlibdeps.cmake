# Read by cpack when it runs (CPACK_PROJECT_CONFIG_FILE): the package quorix depends on the
# packages of the shared libraries that its programs and driver module need, as dpkg-shlibdeps
# finds them, the way Debian's own packaging computes Depends. CPack's built-in computation
# would do the same but also add maintainer scripts calling ldconfig, because the driver module
# is a shared object under /usr/lib; it is no library the dynamic linker looks up.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
set(dir "${CPACK_QRX_SHLIBDEPS_DIR}")
file(REMOVE_RECURSE "${dir}")
# dpkg-shlibdeps wants to run in a Debian source tree.
file(WRITE "${dir}/debian/control" "Source: quorix\n\nPackage: quorix\nArchitecture: any\n")
execute_process(COMMAND dpkg-shlibdeps -O ${CPACK_QRX_BINARIES}
                WORKING_DIRECTORY "${dir}"
                OUTPUT_VARIABLE substvars ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT substvars MATCHES "shlibs:Depends=([^\n]+)")
  message(FATAL_ERROR "dpkg-shlibdeps failed for ${CPACK_QRX_BINARIES}:\n${errors}")
endif()
set(CPACK_DEBIAN_QUORIX_PACKAGE_DEPENDS "${CMAKE_MATCH_1}")
