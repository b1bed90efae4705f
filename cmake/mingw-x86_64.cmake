# 64-bit Windows, for testing only: where Wine cannot run 32-bit programs (a
# kernel without 32-bit emulation), the same program and test sources are
# built for x86-64 and run under 64-bit Wine. The shipped programs are the
# 32-bit ones (mingw-i686.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
