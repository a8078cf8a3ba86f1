# 64-bit Windows: the same program as a 64-bit process, for machines whose
# kernel runs no 32-bit code (and so no 32-bit Windows program under Wine).
set(TARVEX_MINGW_ARCH x86_64)
set(TARVEX_WINE_BITS 64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
