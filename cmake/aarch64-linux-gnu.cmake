# Cross build for 64-bit ARM Linux with Debian's GNU cross compiler. Tests run
# under qemu-user, which loads the ARM C runtime from the cross compiler's
# sysroot, as no ARM machine runs here.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(GLYPHOUND_ARM_SYSROOT /usr/aarch64-linux-gnu)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# Only the sysroot is searched for libraries and packages, so the host's
# x86-64 GoogleTest is never taken; the tests compile it from source instead.
set(CMAKE_FIND_ROOT_PATH ${GLYPHOUND_ARM_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
find_program(GLYPHOUND_QEMU NAMES qemu-aarch64 qemu-aarch64-static)
set(CMAKE_CROSSCOMPILING_EMULATOR ${GLYPHOUND_QEMU} -L ${GLYPHOUND_ARM_SYSROOT})
