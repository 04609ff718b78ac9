# main window end-to-end tests
find_package(Python3 COMPONENTS Interpreter)
find_program(PELLAMARK_XVFB Xvfb)
# The desktop session manager the session test talks to; without it that test is skipped, saying
# so.
find_package(PkgConfig)
if(PkgConfig_FOUND)
    pkg_check_modules(PELLAMARK_XSMP IMPORTED_TARGET sm ice)
endif()
set(session_manager "")
if(PELLAMARK_XSMP_FOUND)
    add_executable(pellamark_session_manager session_manager.cpp)
    target_link_libraries(pellamark_session_manager PRIVATE PkgConfig::PELLAMARK_XSMP pellamark_settings)
    set(session_manager "$<TARGET_FILE:pellamark_session_manager>")
endif()
if(Python3_Interpreter_FOUND AND PELLAMARK_XVFB)
    add_test(NAME e2e_main_window
        COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/test_main_e2e.py)
    set_tests_properties(e2e_main_window PROPERTIES
        LABELS e2e
        TIMEOUT 300
        RESOURCE_LOCK pellamark_e2e_port
        ENVIRONMENT "PELLAMARK_E2E_PROGRAM=$<TARGET_FILE:pellamark_e2e>;PELLAMARK_E2E_PORT=${PELLAMARK_E2E_PORT};PELLAMARK_E2E_SESSION_MANAGER=${session_manager}")
endif()
