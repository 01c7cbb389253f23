# 64-bit little-endian POWER (Debian's ppc64el).
set(CMAKE_SYSTEM_PROCESSOR ppc64le)
set(triplet powerpc64le-linux-gnu)
set(qemu qemu-ppc64le)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu.cmake)
