# 64-bit Windows: stubkit.exe for Windows hosts (64-bit, so it runs where only
# 64-bit Wine does, and on ARM64 Windows through its emulation), and, for
# testing only, the Windows programs and their tests where Wine cannot run
# 32-bit programs (a kernel without 32-bit emulation). The shipped installer
# programs are the 32-bit ones (mingw-i686.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
