# The shell scripts themselves, no Wine: ShellCheck at warning level over
# every script, and the scenario runner's own behaviour. Once, in the
# product's tree.
if(TARVEX_WINE_BITS EQUAL 32)
    add_test(NAME shell_scripts COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/check-shell.sh ${CMAKE_SOURCE_DIR})
    add_test(NAME scenario_runner COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/check-runner.sh)
    set_tests_properties(shell_scripts scenario_runner PROPERTIES TIMEOUT 120)
endif()
