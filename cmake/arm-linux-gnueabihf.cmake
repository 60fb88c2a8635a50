# Debian armhf, cross-built on another Debian machine (README, Platforms), with Debian's
# cross compiler and the armhf libraries installed beside the machine's own (multiarch):
#   cmake -B build -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake
# The tests run what was built, so running them needs a machine that runs armhf programs,
# natively or through qemu-user-static's binfmt_misc emulation.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
# find_package looks in the armhf directories: /usr/lib/arm-linux-gnueabihf and its cmake/.
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
# pkg-config reads the .pc files of the target's libraries, not those of the machine's own.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig)
