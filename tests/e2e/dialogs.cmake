# dialog end-to-end tests: sign-up, a later start, options, an unreachable server, the real service
find_package(Python3 COMPONENTS Interpreter)
find_program(PELLAMARK_XVFB Xvfb)
if(Python3_Interpreter_FOUND AND PELLAMARK_XVFB)
    set(PELLAMARK_E2E_FLOWS_ENV
        "PELLAMARK_E2E_PROGRAM=$<TARGET_FILE:pellamark_e2e>"
        "PELLAMARK_E2E_PORT=${PELLAMARK_E2E_PORT}")
    # Without the service build the case against the real service is skipped.
    if(TARGET pellamark-service)
        list(APPEND PELLAMARK_E2E_FLOWS_ENV
            "PELLAMARK_E2E_SERVICE=$<TARGET_FILE:pellamark-service>")
    endif()
    add_test(NAME e2e_daily_flows
        COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/test_flows_e2e.py)
    set_tests_properties(e2e_daily_flows PROPERTIES
        LABELS e2e
        TIMEOUT 600
        RESOURCE_LOCK pellamark_e2e_port
        ENVIRONMENT "${PELLAMARK_E2E_FLOWS_ENV}")
endif()
