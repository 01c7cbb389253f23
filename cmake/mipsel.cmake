# 32-bit little-endian MIPS (Debian's mipsel).
set(CMAKE_SYSTEM_PROCESSOR mipsel)
set(triplet mipsel-linux-gnu)
set(qemu qemu-mipsel)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu.cmake)
