# The main window's own process: its death, the program's death, its end after the window is put
# away, and the window state across the two processes.
find_package(Python3 COMPONENTS Interpreter)
find_program(PELLAMARK_XVFB Xvfb)
if(Python3_Interpreter_FOUND AND PELLAMARK_XVFB)
    add_test(NAME e2e_window_process
        COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/test_window_process_e2e.py)
    set_tests_properties(e2e_window_process PROPERTIES
        LABELS e2e
        TIMEOUT 300
        RESOURCE_LOCK pellamark_e2e_port
        ENVIRONMENT "PELLAMARK_E2E_PROGRAM=$<TARGET_FILE:pellamark_e2e>;PELLAMARK_E2E_PORT=${PELLAMARK_E2E_PORT}")
endif()
