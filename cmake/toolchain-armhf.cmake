# Cross build for 32-bit ARM (hard-float) with Debian's arm-linux-gnueabihf
# toolchain, the class of processor the appliance runs on.
#
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake \
#         -DALERTMILL_ARMHF_SYSROOT=<dir with usr/include, usr/lib/arm-linux-gnueabihf>
#
# The toolchain brings the C and C++ runtime in /usr/arm-linux-gnueabihf;
# everything else (SQLite, GoogleTest, Google Benchmark) comes from the extra
# sysroot, unpacked from Debian's armhf packages by scripts/cross-test-armhf.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(ALERTMILL_ARMHF_TRIPLET arm-linux-gnueabihf)
set(CMAKE_C_COMPILER ${ALERTMILL_ARMHF_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${ALERTMILL_ARMHF_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${ALERTMILL_ARMHF_TRIPLET})

# OpenWrt's C library has a 64-bit time_t and off_t on 32-bit targets; build
# the same way so that code assuming "long holds a time" breaks here too.
set(CMAKE_C_FLAGS_INIT "-D_TIME_BITS=64 -D_FILE_OFFSET_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-D_TIME_BITS=64 -D_FILE_OFFSET_BITS=64")

set(ALERTMILL_ARMHF_SYSROOT "${ALERTMILL_ARMHF_SYSROOT}" CACHE PATH
    "Unpacked armhf packages (usr/include, usr/lib/arm-linux-gnueabihf)")
# try_compile projects read this file again without the cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ALERTMILL_ARMHF_SYSROOT)

set(CMAKE_FIND_ROOT_PATH /usr/${ALERTMILL_ARMHF_TRIPLET})
if(ALERTMILL_ARMHF_SYSROOT)
  list(APPEND CMAKE_FIND_ROOT_PATH ${ALERTMILL_ARMHF_SYSROOT})
  # Shared libraries of the extra sysroot (libsqlite3.so.0 needs nothing
  # beyond libc) are found by the linker through -rpath-link.
  set(CMAKE_EXE_LINKER_FLAGS_INIT
      "-Wl,-rpath-link,${ALERTMILL_ARMHF_SYSROOT}/usr/lib/${ALERTMILL_ARMHF_TRIPLET}")
  set(CMAKE_SHARED_LINKER_FLAGS_INIT "${CMAKE_EXE_LINKER_FLAGS_INIT}")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
