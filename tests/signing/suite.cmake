# Authenticode: the tree's program and a package of it signed with a throw-away
# certificate, as the build signs them (no Wine, every machine); then the
# signed program's silent installation, the end-to-end suite's first scenario.
if(NOT DEFINED TARVEX_PACKAGE)
    return()
endif()
set(SIGNING_WORK ${CMAKE_BINARY_DIR}/tests/signing-work)
add_test(NAME signing_${TARVEX_MANIFEST_ARCH}
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/signing.sh ${TARVEX_PRODUCT_EXE} ${TARVEX_MANIFEST_ARCH}
                 ${TARVEX_COMPANY_NAME} ${PROJECT_VERSION} ${TARVEX_PACKAGE_DLL} ${CMAKE_RC_COMPILER}
                 ${TARVEX_PRODUCT_ACTIONS} ${TARVEX_PRODUCT_STARTER} ${SIGNING_WORK})
set_tests_properties(signing_${TARVEX_MANIFEST_ARCH} PROPERTIES
    TIMEOUT 120 FIXTURES_SETUP signed_${TARVEX_MANIFEST_ARCH})

set(SIGNED_XVFB_SERVER_NUM_32 310)
set(SIGNED_XVFB_SERVER_NUM_64 320)
wine_test(e2e_signed_win64 win64
          xvfb-run -a -n ${SIGNED_XVFB_SERVER_NUM_${TARVEX_WINE_BITS}} -s "-screen 0 1024x768x24"
          bash ${E2E_DIR}/e2e.sh --kind win64 --bits ${TARVEX_WINE_BITS} --prefix ${WINE_ROOT}/win64
               --build ${CMAKE_BINARY_DIR} --exe ${SIGNING_WORK}/signed/TarvexActiveXInstaller.exe
               --company ${TARVEX_COMPANY_NAME} --clsid ${TARVEX_STANDIN_CLSID} --only silent_success
               --work ${SUITE_WORK_ROOT}/e2e_signed_win64)
set_tests_properties(e2e_signed_win64 PROPERTIES FIXTURES_REQUIRED "wine_win64;signed_${TARVEX_MANIFEST_ARCH}")
