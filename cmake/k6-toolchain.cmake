# The k6 preset's toolchain: 32-bit x86 for the AMD K6 family itself, with Debian's multilib
# compilers. -march=k6-2 keeps out what the K6 lacks (CMOV above all); the 32-bit libraries come
# from Debian's i386 packages (libgtest-dev:i386 among them). This machine's kernel may run no
# 32-bit programs, so the tests run under user-mode emulation (qemu-user).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32 -march=k6-2")
set(CMAKE_CXX_FLAGS_INIT "-m32 -march=k6-2")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386 -L /)
