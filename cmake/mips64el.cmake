# 64-bit little-endian MIPS (Debian's mips64el).
set(CMAKE_SYSTEM_PROCESSOR mips64el)
set(triplet mips64el-linux-gnuabi64)
set(qemu qemu-mips64el)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu.cmake)
