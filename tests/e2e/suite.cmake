# End-to-end: the real program on real Windows APIs under Wine, on each kind
# of Windows the build runs on, each under an X server of its own. The 64-bit
# prefix's run also takes screenshots of each kind of box, into
# <build>/screenshots (the copies in tests/e2e/screenshots, shown by the
# documents in docs/, come from such a run).
set(E2E_DIR ${CMAKE_CURRENT_LIST_DIR})
# Separate starting numbers keep suites started at once off one display.
set(E2E_XVFB_SERVER_NUM_win64_32 140)
set(E2E_XVFB_SERVER_NUM_win32_32 170)
set(E2E_XVFB_SERVER_NUM_win64_64 200)
foreach(kind ${WINE_KINDS})
    set(e2e_args --kind ${kind} --bits ${TARVEX_WINE_BITS} --prefix ${WINE_ROOT}/${kind}
        --build ${CMAKE_BINARY_DIR} --exe ${TARVEX_PRODUCT_EXE}
        --company ${TARVEX_COMPANY_NAME} --clsid ${TARVEX_STANDIN_CLSID} --work ${SUITE_WORK_ROOT}/e2e_${kind})
    if(kind STREQUAL "win64")
        list(APPEND e2e_args --screenshots ${CMAKE_BINARY_DIR}/screenshots)
    endif()
    wine_test(e2e_${kind} ${kind}
              xvfb-run -a -n ${E2E_XVFB_SERVER_NUM_${kind}_${TARVEX_WINE_BITS}} -s "-screen 0 1024x768x24"
              bash ${E2E_DIR}/e2e.sh ${e2e_args})
    set_tests_properties(e2e_${kind} PROPERTIES TIMEOUT 900)
endforeach()
