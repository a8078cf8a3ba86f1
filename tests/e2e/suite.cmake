# End-to-end: the real program on real Windows APIs under Wine, once on each
# kind of Windows, each under an X server of its own. The 64-bit run also
# takes screenshots of each kind of box, into <build>/screenshots (the copies
# in tests/e2e/screenshots, shown by the README, come from such a run).
set(E2E_DIR ${CMAKE_CURRENT_LIST_DIR})
set(E2E_XVFB_SERVER_NUM_win64 140)
set(E2E_XVFB_SERVER_NUM_win32 170)
foreach(kind win64 win32)
    set(e2e_args --kind ${kind} --prefix ${WINE_ROOT}/${kind} --build ${CMAKE_BINARY_DIR}
        --company ${TARVEX_COMPANY_NAME} --clsid ${TARVEX_STANDIN_CLSID})
    if(kind STREQUAL "win64")
        list(APPEND e2e_args --screenshots ${CMAKE_BINARY_DIR}/screenshots)
    endif()
    # Separate starting numbers keep two suites started at once off one display.
    add_test(NAME e2e_${kind}
             COMMAND xvfb-run -a -n ${E2E_XVFB_SERVER_NUM_${kind}} -s "-screen 0 1024x768x24"
                     bash ${E2E_DIR}/e2e.sh ${e2e_args})
    set_tests_properties(e2e_${kind} PROPERTIES
        FIXTURES_REQUIRED wine_${kind}
        RESOURCE_LOCK wine_${kind}
        TIMEOUT 900)
endforeach()
