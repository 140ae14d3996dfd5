# The k6 preset's toolchain: what we ship for the AMD K6 family itself, built by our own i586
# cross compiler (scripts/k6-toolchain): gcc 12 with musl and libstdc++, every library built for
# -march=k6-2. Debian's i386 libraries cannot serve: they hold CMOV, which the K6 lacks.
# libstdc++ and libgcc are linked statically into each program and into the driver module, so
# what runs needs only musl's loader (/lib/ld-musl-i386.so.1) and no library of the
# distribution. The tests run under user-mode emulation with a processor that has exactly a K6's
# instruction set, so an instruction the K6 lacks stops a test with SIGILL.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i586)

if(DEFINED ENV{QRX_K6_CACHE} AND NOT "$ENV{QRX_K6_CACHE}" STREQUAL "")
  set(qrx_k6_cache "$ENV{QRX_K6_CACHE}")
else()
  set(qrx_k6_cache "$ENV{HOME}/.cache/quorix-k6")
endif()
set(QRX_K6_TOOLCHAIN "${qrx_k6_cache}/toolchain" CACHE PATH "The K6 cross toolchain (scripts/k6-toolchain)")
set(qrx_k6_target i586-linux-musl)
if(NOT EXISTS "${QRX_K6_TOOLCHAIN}/bin/${qrx_k6_target}-g++")
  message(FATAL_ERROR "No K6 toolchain in ${QRX_K6_TOOLCHAIN}: run scripts/k6-toolchain "
                      "(or set QRX_K6_CACHE to the folder that holds toolchain/).")
endif()

set(CMAKE_C_COMPILER "${QRX_K6_TOOLCHAIN}/bin/${qrx_k6_target}-gcc")
set(CMAKE_CXX_COMPILER "${QRX_K6_TOOLCHAIN}/bin/${qrx_k6_target}-g++")
set(CMAKE_AR "${QRX_K6_TOOLCHAIN}/bin/${qrx_k6_target}-ar" CACHE FILEPATH "")
set(CMAKE_RANLIB "${QRX_K6_TOOLCHAIN}/bin/${qrx_k6_target}-ranlib" CACHE FILEPATH "")
set(CMAKE_STRIP "${QRX_K6_TOOLCHAIN}/bin/${qrx_k6_target}-strip" CACHE FILEPATH "")
set(CMAKE_OBJDUMP "${QRX_K6_TOOLCHAIN}/bin/${qrx_k6_target}-objdump" CACHE FILEPATH "")
set(QRX_K6_SYSROOT "${QRX_K6_TOOLCHAIN}/${qrx_k6_target}")
set(CMAKE_SYSROOT "${QRX_K6_SYSROOT}")
# musl carries no Linux headers; the K6 kernel's user-space headers (scripts/k6-kernel) serve
# the driver's request interface (linux/ioctl.h).
set(qrx_k6_uapi "${qrx_k6_cache}/kernel/uapi/include")
if(NOT EXISTS "${qrx_k6_uapi}/linux/ioctl.h")
  message(FATAL_ERROR "No K6 kernel headers in ${qrx_k6_uapi}: run scripts/k6-kernel")
endif()
set(CMAKE_C_FLAGS_INIT "-march=k6-2 -isystem ${qrx_k6_uapi}")
set(CMAKE_CXX_FLAGS_INIT "-march=k6-2 -isystem ${qrx_k6_uapi}")
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-static-libstdc++ -static-libgcc")
endforeach()

# Nothing of this machine's own libraries: headers, libraries and packages come from the
# target's root only; GoogleTest is built from its source with this compiler (QRX_GTEST_SOURCE).
set(CMAKE_FIND_ROOT_PATH "${QRX_K6_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(QRX_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's source, built with this toolchain")

# The honest K6 for user-mode emulation: a Pentium with MMX and 3DNow!, which is what the K6-2
# adds, so CMOV, FCOMI, SSE and FXSAVE raise SIGILL as they would on the K6. (QEMU runs long
# NOPs on every model; scripts/check-k6-binaries finds those.) The loader comes from the
# toolchain's root, never from this machine's /.
set(QRX_K6_QEMU_CPU "pentium,+mmx,+3dnow,vendor=AuthenticAMD,family=5,model=8,stepping=12"
    CACHE STRING "The processor qemu-i386 emulates for the tests")
# Cached, so that scripts/test-programs finds it as CTest does.
set(CMAKE_CROSSCOMPILING_EMULATOR "qemu-i386;-cpu;${QRX_K6_QEMU_CPU};-L;${QRX_K6_SYSROOT}"
    CACHE STRING "How the k6 preset's programs run on this machine")
