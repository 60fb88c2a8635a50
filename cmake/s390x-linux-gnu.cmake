# Debian s390x, cross-built on another Debian machine (README, Platforms), with Debian's
# cross compiler and the s390x libraries installed beside the machine's own (multiarch):
#   cmake -B build -DCMAKE_TOOLCHAIN_FILE=cmake/s390x-linux-gnu.cmake
# The tests run what was built, so running them needs a machine that runs s390x programs,
# natively or through qemu-user-static's binfmt_misc emulation.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(CMAKE_C_COMPILER s390x-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++)
# find_package looks in the s390x directories: /usr/lib/s390x-linux-gnu and its cmake/.
set(CMAKE_LIBRARY_ARCHITECTURE s390x-linux-gnu)
# pkg-config reads the .pc files of the target's libraries, not those of the machine's own.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/s390x-linux-gnu/pkgconfig:/usr/share/pkgconfig)
