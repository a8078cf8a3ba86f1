# The real version detection under each Windows version Wine can pretend to be.
# The check changes Wine's Version setting of the shared prefix and removes it again.
foreach(kind ${WINE_KINDS})
    wine_test(osversion_${kind} ${kind}
              ${CMAKE_CURRENT_LIST_DIR}/check-versions.sh ${WINE_ROOT}/${kind} ${kind} ${TARVEX_WINE_BITS}
              $<TARGET_FILE:osname>)
endforeach()
