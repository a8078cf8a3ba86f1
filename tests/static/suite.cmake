# The scripts themselves, no Wine: ShellCheck at warning level over every
# script, the scenario runner's own behaviour, and the bootstrap against a
# stub mirror; the documents. Once, in the product's tree.
if(TARVEX_WINE_BITS EQUAL 32)
    add_test(NAME shell_scripts COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/check-shell.sh ${CMAKE_SOURCE_DIR})
    add_test(NAME scenario_runner COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/check-runner.sh)
    add_test(NAME bootstrap_mirror COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/check-bootstrap.sh)
    add_test(NAME docs COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/check-docs.sh ${CMAKE_SOURCE_DIR})
    set_tests_properties(shell_scripts scenario_runner bootstrap_mirror docs PROPERTIES TIMEOUT 120)
endif()
