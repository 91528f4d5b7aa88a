# Cross build for 32-bit ARM (hard-float) against musl, the C library of
# OpenWrt, with zig 0.11 as the compiler: for testing against musl only.
# Firmware builds use the OpenWrt SDK's compiler.
#
#   cmake -S . -B build-musl -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-arm-musl.cmake \
#         -DALERTMILL_MUSL_SYSROOT=<dir with usr/include, usr/lib>
#
# The compiler scripts in arm-musl/ beside this file run zig from the
# toolchain directory that scripts/cross-test-musl fills. zig brings musl's
# headers and libc++ (linked into each program); programs link dynamically
# against the real musl libc.so, as on the appliance, so that dlopen works.
# SQLite and GoogleTest come from the extra sysroot, built from source by
# scripts/cross-test-musl.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(CMAKE_C_COMPILER ${CMAKE_CURRENT_LIST_DIR}/arm-musl/cc)
set(CMAKE_CXX_COMPILER ${CMAKE_CURRENT_LIST_DIR}/arm-musl/c++)
set(CMAKE_AR ${CMAKE_CURRENT_LIST_DIR}/arm-musl/ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${CMAKE_CURRENT_LIST_DIR}/arm-musl/ranlib CACHE FILEPATH "")

set(ALERTMILL_MUSL_SYSROOT "${ALERTMILL_MUSL_SYSROOT}" CACHE PATH
    "Libraries built for the target (usr/include, usr/lib)")
# try_compile projects read this file again without the cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ALERTMILL_MUSL_SYSROOT)

set(CMAKE_FIND_ROOT_PATH ${ALERTMILL_MUSL_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
