# The control's installation package (Windows Installer), built with wixl from
# packaging/TarvexActiveX.wxs out of this tree's program, its custom actions'
# DLL and a control DLL.
# The x86 tree's package is the product's; the x64 tree's carries the 64-bit
# variant, for testing where no 32-bit code runs. Without wixl (a native
# Windows build, say) there is no package.
find_program(TARVEX_WIXL wixl)
if(NOT TARVEX_WIXL)
    message(STATUS "wixl not found: the installation package is not built")
    return()
endif()

set(TARVEX_CONTROL_DLL "" CACHE FILEPATH
    "The control DLL (TVex.DLL) that the package ships; empty: the tests' stand-in control")
set(TARVEX_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})

# tarvex_add_package(TARGET OUTPUT EXE DLL [WXS source] [DEPENDS target...] [OPTIONS option...]):
# OUTPUT, the package of that program and DLL, built with the default target
# from TarvexActiveX.wxs or WXS; OPTIONS go to build-package.sh.
function(tarvex_add_package target output exe dll)
    cmake_parse_arguments(PARSE_ARGV 4 arg "" "WXS" "DEPENDS;OPTIONS")
    if(NOT arg_WXS)
        set(arg_WXS ${TARVEX_PACKAGING_DIR}/TarvexActiveX.wxs)
    endif()
    # A signed program goes with our signed custom actions, into a signed package.
    set(actions ${TARVEX_PRODUCT_ACTIONS})
    set(starter ${TARVEX_PRODUCT_STARTER})
    if(exe STREQUAL TARVEX_SIGNED_EXE)
        set(actions ${TARVEX_SIGNED_ACTIONS})
        set(starter ${TARVEX_SIGNED_STARTER})
    endif()
    set(commands COMMAND bash ${TARVEX_PACKAGING_DIR}/build-package.sh --exe ${exe} --dll ${dll}
                         --actions ${actions} --starter ${starter} --company ${TARVEX_COMPANY_NAME} --windres ${CMAKE_RC_COMPILER}
                         --wxs ${arg_WXS} ${arg_OPTIONS})
    if(exe STREQUAL TARVEX_SIGNED_EXE)
        get_filename_component(name ${output} NAME)
        set(unsigned ${CMAKE_BINARY_DIR}/package-unsigned/${name})
        list(APPEND commands --out ${unsigned} COMMAND bash ${TARVEX_SIGN_TOOL} package ${unsigned} ${output})
        set(depends signed_program)
    else()
        list(APPEND commands --out ${output})
        set(depends ${TARVEX_PRODUCT_TARGET})
    endif()
    add_custom_command(OUTPUT ${output} ${commands}
        DEPENDS ${exe} ${dll} ${actions} ${starter} ${arg_WXS} ${TARVEX_PACKAGING_DIR}/build-package.sh
                ${TARVEX_PACKAGING_DIR}/custom-actions.tsv ${TARVEX_PACKAGING_DIR}/custom-actions.sh
                ${TARVEX_SIGN_TOOL} ${TARVEX_SIGNING_STATE}
        VERBATIM)
    add_custom_target(${target} ALL DEPENDS ${output})
    add_dependencies(${target} ${depends} ${arg_DEPENDS})
endfunction()

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(TARVEX_PACKAGE ${CMAKE_BINARY_DIR}/package/TarvexActiveX-x64-test.msi)
else()
    set(TARVEX_PACKAGE ${CMAKE_BINARY_DIR}/package/TarvexActiveX.msi)
endif()
if(TARVEX_CONTROL_DLL)
    if(NOT EXISTS ${TARVEX_CONTROL_DLL} OR IS_DIRECTORY ${TARVEX_CONTROL_DLL})
        message(FATAL_ERROR "TARVEX_CONTROL_DLL names no file: ${TARVEX_CONTROL_DLL}")
    endif()
    set(TARVEX_PACKAGE_DLL ${TARVEX_CONTROL_DLL})
    tarvex_add_package(msi_package ${TARVEX_PACKAGE} ${TARVEX_SHIPPED_EXE} ${TARVEX_PACKAGE_DLL})
elseif(TARVEX_BUILD_TESTS)
    set(TARVEX_PACKAGE_DLL ${CMAKE_BINARY_DIR}/tests/standins/good/TVex.DLL)
    tarvex_add_package(msi_package ${TARVEX_PACKAGE} ${TARVEX_SHIPPED_EXE} ${TARVEX_PACKAGE_DLL}
                       DEPENDS tvex_standin_good)
else()
    message(STATUS "no control DLL: set TARVEX_CONTROL_DLL to build the installation package")
    unset(TARVEX_PACKAGE)
endif()
