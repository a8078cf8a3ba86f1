# The real version detection under each Windows version Wine can pretend to be.
# The check changes Wine's Version setting of the shared prefix and removes it again.
foreach(kind win64 win32)
    add_test(NAME osversion_${kind}
             COMMAND ${CMAKE_CURRENT_LIST_DIR}/check-versions.sh ${WINE_ROOT}/${kind} ${kind} $<TARGET_FILE:osname>)
    set_tests_properties(osversion_${kind} PROPERTIES
        FIXTURES_REQUIRED wine_${kind}
        RESOURCE_LOCK wine_${kind}
        TIMEOUT 600)
endforeach()
