# One way to register each kind of test; the folders under tests/ only say which tests there are.
#
#   pellamark_unit_test(name [LOCKS lock...] [LINK target...])
#       a GoogleTest program of the core (tests/unit); on Windows builds it runs under Wine
#   pellamark_gui_test(name [LINK target...])
#       a GoogleTest program of widgets, under the offscreen platform
#   pellamark_service_test(name [LINK target...])
#       a GoogleTest program of the service, on SQLite and on the tests' PostgreSQL cluster
#   pellamark_e2e_test(name SCRIPT file [ARGS arg...] [TIMEOUT seconds] [ENV var=value...]
#                      [SKIP_REGULAR_EXPRESSION regex])
#       a Python script that drives the real program under Xvfb; the desktop tests' program and
#       its port are in its environment, and one such test runs at a time
#   pellamark_wine_tests(target [LOCKS lock...])   (tests/wine/WineTests.cmake)
#       every case of a GoogleTest program built for Windows, run under Wine
#
# Each sets the label that `ctest -L` selects (unit, gui, service, e2e, win32) and the time-outs.

function(pellamark_unit_test name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "LOCKS;LINK")
    add_executable(${name} ${name}.cpp ${arg_UNPARSED_ARGUMENTS})
    target_link_libraries(${name} PRIVATE pellamark_core pellamark_test_support GTest::gtest_main
                                          GTest::gmock ${arg_LINK})
    if(CMAKE_CROSSCOMPILING)
        # One self-contained program: no runtime libraries to find beside it under Wine.
        target_link_options(${name} PRIVATE -static)
        pellamark_wine_tests(${name} LOCKS ${arg_LOCKS})
    else()
        gtest_discover_tests(${name} DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 300 LABELS unit)
    endif()
endfunction()

function(pellamark_gui_test name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "LINK")
    find_package(Qt6 REQUIRED COMPONENTS Gui Test)
    add_executable(${name} ${name}.cpp)
    target_link_libraries(${name} PRIVATE Qt6::Test GTest::gtest ${arg_LINK})
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
        PROPERTIES TIMEOUT 120 LABELS gui ENVIRONMENT QT_QPA_PLATFORM=offscreen)
endfunction()

# The service's tests need the tests' PostgreSQL cluster (the pellamark_postgres fixture, whose state
# file PELLAMARK_PG_STATE names) and link the service's test support.
function(pellamark_service_test name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "LINK")
    add_executable(${name} ${name}.cpp)
    target_link_libraries(${name} PRIVATE pellamark_service_test_support GTest::gtest_main
                                          ${arg_LINK})
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 30
        PROPERTIES TIMEOUT 120 LABELS service FIXTURES_REQUIRED pellamark_postgres
                   ENVIRONMENT "PELLAMARK_TEST_POSTGRES=${PELLAMARK_PG_STATE}")
endfunction()

function(pellamark_e2e_test name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "SCRIPT;TIMEOUT;SKIP_REGULAR_EXPRESSION"
                          "ARGS;ENV")
    find_package(Python3 COMPONENTS Interpreter)
    find_program(PELLAMARK_XVFB Xvfb)
    if(NOT Python3_Interpreter_FOUND OR NOT PELLAMARK_XVFB)
        message(STATUS "No Python 3 or Xvfb: ${name} is not registered")
        return()
    endif()
    if(NOT arg_TIMEOUT)
        set(arg_TIMEOUT 300)
    endif()
    add_test(NAME ${name}
        COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/${arg_SCRIPT} ${arg_ARGS})
    set_tests_properties(${name} PROPERTIES
        LABELS e2e
        TIMEOUT ${arg_TIMEOUT}
        # They all take the port of the tests' service, and the CPU.
        RESOURCE_LOCK pellamark_e2e_port
        ENVIRONMENT "PELLAMARK_E2E_PROGRAM=$<TARGET_FILE:pellamark_e2e>;PELLAMARK_E2E_PORT=${PELLAMARK_E2E_PORT};${arg_ENV}")
    if(arg_SKIP_REGULAR_EXPRESSION)
        set_tests_properties(${name} PROPERTIES
            SKIP_REGULAR_EXPRESSION "${arg_SKIP_REGULAR_EXPRESSION}")
    endif()
endfunction()
