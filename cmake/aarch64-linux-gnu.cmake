# Debian arm64, cross-built on another Debian machine (README, Platforms), with Debian's
# cross compiler and the arm64 libraries installed beside the machine's own (multiarch):
#   cmake -B build -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
# The tests run what was built, so running them needs a machine that runs arm64 programs,
# natively or through qemu-user-static's binfmt_misc emulation.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# find_package looks in the arm64 directories: /usr/lib/aarch64-linux-gnu and its cmake/.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
# pkg-config reads the .pc files of the target's libraries, not those of the machine's own.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
