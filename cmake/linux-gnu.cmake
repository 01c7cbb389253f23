# Cross-compiling for another CPU with Debian's cross compiler, from a toolchain file that sets
# CMAKE_SYSTEM_PROCESSOR, the GNU target `triplet` and the `qemu` user-mode emulator that runs the
# target's code here. The cross compiler finds its own C and C++ libraries; GoogleTest is built
# for the target from the source that Debian's libgtest-dev ships. The tests run through the
# emulator, which finds the target's dynamic loader and libraries under the cross compiler's
# folder: the libraries by their path rather than by the machine's cache of libraries, which may
# name others built for the CPU, such as Debian's 32-bit x86 libraries for 64-bit x86, that do not
# go with that loader.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_CXX_COMPILER ${triplet}-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR ${qemu} -L /usr/${triplet} -E LD_LIBRARY_PATH=/usr/${triplet}/lib)
