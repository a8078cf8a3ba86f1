# 32-bit Windows: the product.
set(TARVEX_MINGW_ARCH i686)
set(TARVEX_WINE_BITS 32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
