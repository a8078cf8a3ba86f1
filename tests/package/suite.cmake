# The installation package. Its tables and payloads are read without Wine, on
# every machine: the tree's package, and copies of it broken for one check
# each, which the check must reject. Then test packages of this tree's program
# with stand-in controls are installed, updated, repaired, failed, rolled back
# and removed under Wine's msiexec, in the tree's prefixes, under an X server
# of their own:
#   deployed  the package as 1.2.0.7 was released (its source kept as a
#             fixture), with the good control and a program that poses as
#             1.2.0.7 (this build's, its version resource rewritten)
#   good      this package with the good control (1.0.0.1), fail with the
#             failing one (9.9.9.9), unloadable with the one that can't be
#             loaded (1.0.0.1), asks with the one that opens a box of its
#             own when it registers (1.0.0.1), dependent with the one that
#             loads a helper DLL by bare name (1.0.0.1), all of this version
#   later     the next release (the last field plus one) with the second good
#             control (2.0.0.0)
#   late_failure  later, with a deferred step that fails at the end, after
#             the registration and the arrangement for a restart
#   removal_failure  later, with a deferred step that fails in its removal,
#             after the arrangement for a restart is taken away and before
#             RemoveFiles (Wine can't roll back a removal of files)
if(NOT DEFINED TARVEX_PACKAGE)
    return()
endif()
set(PACKAGE_SUITE_DIR ${CMAKE_CURRENT_LIST_DIR})
set(CHECK_PACKAGE ${CMAKE_CURRENT_SOURCE_DIR}/static/check-package.sh)
set(package_check_args ${TARVEX_SHIPPED_EXE} ${TARVEX_PACKAGE_DLL} ${TARVEX_COMPANY_NAME} ${CMAKE_RC_COMPILER}
    ${TARVEX_SHIPPED_ACTIONS} ${TARVEX_SHIPPED_STARTER})
add_test(NAME package_file_${TARVEX_MANIFEST_ARCH}
         COMMAND bash ${CHECK_PACKAGE} ${TARVEX_PACKAGE} ${package_check_args})
add_test(NAME package_file_broken_${TARVEX_MANIFEST_ARCH}
         COMMAND bash ${CHECK_PACKAGE} --broken ${TARVEX_PACKAGE} ${package_check_args}
                 ${CMAKE_BINARY_DIR}/tests/package-broken)
# The package build refuses a control that can't work, with the reason.
add_test(NAME control_refusal_${TARVEX_MANIFEST_ARCH}
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/static/check-control-refusal.sh ${TARVEX_PRODUCT_EXE}
                 ${TARVEX_PRODUCT_ACTIONS} ${TARVEX_PRODUCT_STARTER} ${TARVEX_PACKAGE_DLL} ${TARVEX_COMPANY_NAME} ${CMAKE_RC_COMPILER}
                 ${CMAKE_BINARY_DIR}/tests/control-refusal)
set_tests_properties(package_file_${TARVEX_MANIFEST_ARCH} control_refusal_${TARVEX_MANIFEST_ARCH} PROPERTIES TIMEOUT 60)
set_tests_properties(package_file_broken_${TARVEX_MANIFEST_ARCH} PROPERTIES TIMEOUT 240)

set(TEST_PACKAGES ${CMAKE_BINARY_DIR}/tests/packages)
set(STANDINS ${CMAKE_BINARY_DIR}/tests/standins)
set(DEPLOYED_EXE ${CMAKE_BINARY_DIR}/tests/deployed-1.2.0.7/TarvexActiveXInstaller.exe)
add_custom_command(OUTPUT ${DEPLOYED_EXE}
    COMMAND bash ${PACKAGE_SUITE_DIR}/earlier-release.sh ${TARVEX_PRODUCT_EXE} 1.2.0.7 ${DEPLOYED_EXE}
    DEPENDS ${TARVEX_PRODUCT_EXE} ${PACKAGE_SUITE_DIR}/earlier-release.sh
    VERBATIM)
add_custom_target(deployed_program DEPENDS ${DEPLOYED_EXE})
add_dependencies(deployed_program ${TARVEX_PRODUCT_TARGET})
tarvex_add_package(test_package_deployed ${TEST_PACKAGES}/deployed.msi ${DEPLOYED_EXE} ${STANDINS}/good/TVex.DLL
                   WXS ${PACKAGE_SUITE_DIR}/fixtures/TarvexActiveX-1.2.0.7.wxs
                   DEPENDS tvex_standin_good deployed_program OPTIONS --as-wixl-writes)
foreach(control good fail unloadable asks dependent)
    tarvex_add_package(test_package_${control} ${TEST_PACKAGES}/${control}.msi ${TARVEX_PRODUCT_EXE}
                       ${STANDINS}/${control}/TVex.DLL DEPENDS tvex_standin_${control})
endforeach()
math(EXPR next_release "${PROJECT_VERSION_TWEAK} + 1")
tarvex_add_package(test_package_later ${TEST_PACKAGES}/later.msi ${TARVEX_PRODUCT_EXE} ${STANDINS}/good2/TVex.DLL
                   DEPENDS tvex_standin_good2
                   OPTIONS --version ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.0.${next_release})
# NAME SEQUENCE CONDITION: the later package with a failing step there.
foreach(failure "late_failure;6590;$Control=3" "removal_failure;3495;$Control=2")
    list(GET failure 0 name)
    list(GET failure 1 sequence)
    list(GET failure 2 condition)
    add_custom_command(OUTPUT ${TEST_PACKAGES}/${name}.msi
        COMMAND bash ${PACKAGE_SUITE_DIR}/late-failure.sh ${TEST_PACKAGES}/later.msi
                $<TARGET_FILE:exit_with_code> ${TEST_PACKAGES}/${name}.msi ${sequence} ${condition}
        DEPENDS ${TEST_PACKAGES}/later.msi ${PACKAGE_SUITE_DIR}/late-failure.sh
        VERBATIM)
    add_custom_target(test_package_${name} ALL DEPENDS ${TEST_PACKAGES}/${name}.msi)
    add_dependencies(test_package_${name} test_package_later exit_with_code)
endforeach()

set(PACKAGE_XVFB_SERVER_NUM_win64_32 230)
set(PACKAGE_XVFB_SERVER_NUM_win32_32 260)
set(PACKAGE_XVFB_SERVER_NUM_win64_64 290)
set(PACKAGE_XVFB_SERVER_NUM_asks_32 340)
set(PACKAGE_XVFB_SERVER_NUM_asks_64 350)
# package_suite(NAME PREFIX KIND XVFB ARG...): the suite in that prefix.
function(package_suite name prefix kind xvfb)
    wine_test(${name} ${prefix}
              xvfb-run -a -n ${xvfb} -s "-screen 0 1024x768x24"
              bash ${PACKAGE_SUITE_DIR}/package.sh --kind ${kind} --bits ${TARVEX_WINE_BITS}
                   --prefix ${WINE_ROOT}/${prefix} --build ${CMAKE_BINARY_DIR} --exe ${TARVEX_PRODUCT_EXE}
                   --company ${TARVEX_COMPANY_NAME} --clsid ${TARVEX_STANDIN_CLSID} --clsid2 ${TARVEX_STANDIN_CLSID2}
                   --packages ${TEST_PACKAGES} --work ${SUITE_WORK_ROOT}/${name} ${ARGN})
endfunction()
# The 64-bit prefix's run also takes the screenshot of the installer's error box.
foreach(kind ${WINE_KINDS})
    set(extra)
    if(kind STREQUAL "win64")
        set(extra --screenshots ${CMAKE_BINARY_DIR}/screenshots)
    endif()
    package_suite(package_${kind} ${kind} ${kind} ${PACKAGE_XVFB_SERVER_NUM_${kind}_${TARVEX_WINE_BITS}} ${extra})
endforeach()
# The control that asks waits out the tool's 5-minute bound: once per
# machine, in a prefix of its own, beside the other suites, and first, as it
# takes longest.
wine_prefix(win64-asks win64 scenarios)
package_suite(package_asks_win64 win64-asks win64 ${PACKAGE_XVFB_SERVER_NUM_asks_${TARVEX_WINE_BITS}}
              --only control_that_asks_is_ended)
set_tests_properties(package_asks_win64 PROPERTIES COST 10000)
