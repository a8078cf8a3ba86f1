# The installation package. Its tables and payloads are read without Wine, on
# every machine: the tree's package, and one whose registration runs after
# InstallFinalize, which the check must reject. Then two test packages, the
# good and the failing stand-in control with this tree's program, are
# installed, repaired, failed, rolled back and removed under Wine's msiexec,
# in the tree's prefixes, under an X server of their own.
if(NOT DEFINED TARVEX_PACKAGE)
    return()
endif()
set(PACKAGE_SUITE_DIR ${CMAKE_CURRENT_LIST_DIR})
set(CHECK_PACKAGE ${CMAKE_CURRENT_SOURCE_DIR}/static/check-package.sh)
set(package_check_args ${TARVEX_SHIPPED_EXE} ${TARVEX_PACKAGE_DLL} ${TARVEX_COMPANY_NAME} ${CMAKE_RC_COMPILER})
add_test(NAME package_file_${TARVEX_MANIFEST_ARCH}
         COMMAND bash ${CHECK_PACKAGE} ${TARVEX_PACKAGE} ${package_check_args})
add_test(NAME package_file_misplaced_${TARVEX_MANIFEST_ARCH}
         COMMAND bash ${CHECK_PACKAGE} --misplaced ${package_check_args} ${CMAKE_BINARY_DIR}/tests/package-misplaced)
set_tests_properties(package_file_${TARVEX_MANIFEST_ARCH} package_file_misplaced_${TARVEX_MANIFEST_ARCH}
                     PROPERTIES TIMEOUT 60)

set(TEST_PACKAGES ${CMAKE_BINARY_DIR}/tests/packages)
foreach(control good fail)
    tarvex_add_package(test_package_${control} ${TEST_PACKAGES}/${control}.msi ${TARVEX_PRODUCT_EXE}
                       ${CMAKE_BINARY_DIR}/tests/standins/${control}/TVex.DLL tvex_standin_${control})
endforeach()

set(PACKAGE_XVFB_SERVER_NUM_win64_32 230)
set(PACKAGE_XVFB_SERVER_NUM_win32_32 260)
set(PACKAGE_XVFB_SERVER_NUM_win64_64 290)
foreach(kind ${WINE_KINDS})
    wine_test(package_${kind} ${kind}
              xvfb-run -a -n ${PACKAGE_XVFB_SERVER_NUM_${kind}_${TARVEX_WINE_BITS}} -s "-screen 0 1024x768x24"
              bash ${PACKAGE_SUITE_DIR}/package.sh --kind ${kind} --bits ${TARVEX_WINE_BITS}
                   --prefix ${WINE_ROOT}/${kind} --build ${CMAKE_BINARY_DIR} --exe ${TARVEX_PRODUCT_EXE}
                   --company ${TARVEX_COMPANY_NAME} --clsid ${TARVEX_STANDIN_CLSID}
                   --package ${TEST_PACKAGES}/good.msi --failing-package ${TEST_PACKAGES}/fail.msi)
endforeach()
