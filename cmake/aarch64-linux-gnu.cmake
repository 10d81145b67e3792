# SPDX-License-Identifier: MIT
# Cross build for 64-bit Arm Linux with Debian's g++-aarch64-linux-gnu; the
# programs and tests run here under qemu-user (Debian's qemu-user), with the
# cross libc as their root for libraries.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

set(sysroot /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH ${sysroot})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(DOTPROD_QEMU qemu-aarch64 REQUIRED)
# -E passes the library root on to the programs that an emulated one starts
# (dotprod-parallel runs itself again), which a system that registers qemu
# with binfmt_misc runs under a qemu of their own, without -L.
set(CMAKE_CROSSCOMPILING_EMULATOR ${DOTPROD_QEMU} -L ${sysroot} -E QEMU_LD_PREFIX=${sysroot})
