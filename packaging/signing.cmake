# Authenticode signatures, switched on by the environment: with TARVEX_SIGN_PFX
# set when the tree is configured, the build signs the program, the custom
# actions' DLL and the restart's starter into signed/, each with its detached signature beside it, and
# the product's package carries them signed and is signed in turn (packaging/sign.sh says how). The
# password is read from the environment when the build signs, never here.
set(TARVEX_SIGN_TOOL ${CMAKE_CURRENT_LIST_DIR}/sign.sh)
set(TARVEX_SHIPPED_EXE ${TARVEX_PRODUCT_EXE})
set(TARVEX_SHIPPED_ACTIONS ${TARVEX_PRODUCT_ACTIONS})
set(TARVEX_SHIPPED_STARTER ${TARVEX_PRODUCT_STARTER})
set(TARVEX_SIGNED_EXE ${CMAKE_BINARY_DIR}/signed/TarvexActiveXInstaller.exe)
set(TARVEX_SIGNED_ACTIONS ${CMAKE_BINARY_DIR}/signed/TarvexCustomActions.dll)
set(TARVEX_SIGNED_STARTER ${CMAKE_BINARY_DIR}/signed/TarvexRegisterAtRestart.exe)
if("$ENV{TARVEX_SIGN_PFX}" STREQUAL "")
    set(TARVEX_SIGNING OFF)
    set(TARVEX_SIGN_KEY_FILE "")
    # Nothing signed is left from an earlier configuration.
    file(REMOVE_RECURSE ${CMAKE_BINARY_DIR}/signed ${CMAKE_BINARY_DIR}/package-unsigned)
else()
    set(TARVEX_SIGNING ON)
    find_program(TARVEX_OSSLSIGNCODE osslsigncode)
    if(NOT TARVEX_OSSLSIGNCODE)
        message(FATAL_ERROR "TARVEX_SIGN_PFX is set, but osslsigncode is not installed")
    endif()
    # Relative to the source folder, as sign.sh takes it: a new key signs anew.
    get_filename_component(TARVEX_SIGN_KEY_FILE "$ENV{TARVEX_SIGN_PFX}" ABSOLUTE BASE_DIR ${CMAKE_SOURCE_DIR})
    add_custom_command(OUTPUT ${TARVEX_SIGNED_EXE} ${TARVEX_SIGNED_EXE}.p7s
                              ${TARVEX_SIGNED_ACTIONS} ${TARVEX_SIGNED_ACTIONS}.p7s
                              ${TARVEX_SIGNED_STARTER} ${TARVEX_SIGNED_STARTER}.p7s
        COMMAND bash ${TARVEX_SIGN_TOOL} program ${TARVEX_PRODUCT_EXE} ${TARVEX_SIGNED_EXE} ${TARVEX_SIGNED_EXE}.p7s
        COMMAND bash ${TARVEX_SIGN_TOOL} program ${TARVEX_PRODUCT_ACTIONS} ${TARVEX_SIGNED_ACTIONS}
                     ${TARVEX_SIGNED_ACTIONS}.p7s
        COMMAND bash ${TARVEX_SIGN_TOOL} program ${TARVEX_PRODUCT_STARTER} ${TARVEX_SIGNED_STARTER}
                     ${TARVEX_SIGNED_STARTER}.p7s
        DEPENDS ${TARVEX_PRODUCT_EXE} ${TARVEX_PRODUCT_ACTIONS} ${TARVEX_PRODUCT_STARTER} ${TARVEX_SIGN_TOOL} ${TARVEX_SIGN_KEY_FILE}
        VERBATIM)
    add_custom_target(signed_program ALL DEPENDS ${TARVEX_SIGNED_EXE} ${TARVEX_SIGNED_ACTIONS} ${TARVEX_SIGNED_STARTER})
    add_dependencies(signed_program ${TARVEX_PRODUCT_TARGET})
    set(TARVEX_SHIPPED_EXE ${TARVEX_SIGNED_EXE})
    set(TARVEX_SHIPPED_ACTIONS ${TARVEX_SIGNED_ACTIONS})
    set(TARVEX_SHIPPED_STARTER ${TARVEX_SIGNED_STARTER})
    message(STATUS "signing with $ENV{TARVEX_SIGN_PFX}: the program and the custom actions into ${CMAKE_BINARY_DIR}/signed, then the package")
endif()
# Written only when it changes: the package depends on it, so that switching
# signing on or off, or another key, builds the package anew.
set(TARVEX_SIGNING_STATE ${CMAKE_BINARY_DIR}/signing-state.txt)
file(CONFIGURE OUTPUT ${TARVEX_SIGNING_STATE} CONTENT "${TARVEX_SIGNING} ${TARVEX_SIGN_KEY_FILE}\n")
