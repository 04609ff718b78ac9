# The Windows builds of the tests run under Wine from ctest: every test case is a ctest test that
# needs the fixture which makes a fresh Wine prefix for the run and deletes it at the end.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(PELLAMARK_WINE_ARCH win64)
else()
    set(PELLAMARK_WINE_ARCH win32)
endif()
set(PELLAMARK_WINE_RUNNER "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh")
set(PELLAMARK_WINE_STATE "${CMAKE_BINARY_DIR}/wine")

execute_process(COMMAND bash "${PELLAMARK_WINE_RUNNER}" probe ${PELLAMARK_WINE_ARCH}
                RESULT_VARIABLE wineProbe OUTPUT_VARIABLE wineProbeReason
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(wineProbe EQUAL 0)
    set(PELLAMARK_WINE_RUNS ON)
    message(STATUS "Windows tests run under Wine (${PELLAMARK_WINE_ARCH})")
    add_test(NAME ${PELLAMARK_WINE_ARCH}.wine-prefix.create
             COMMAND bash "${PELLAMARK_WINE_RUNNER}" setup ${PELLAMARK_WINE_ARCH}
                     "${PELLAMARK_WINE_STATE}")
    add_test(NAME ${PELLAMARK_WINE_ARCH}.wine-prefix.remove
             COMMAND bash "${PELLAMARK_WINE_RUNNER}" cleanup ${PELLAMARK_WINE_ARCH}
                     "${PELLAMARK_WINE_STATE}")
    set_tests_properties(${PELLAMARK_WINE_ARCH}.wine-prefix.create PROPERTIES
                         FIXTURES_SETUP wine_prefix TIMEOUT 300 SKIP_RETURN_CODE 77)
    set_tests_properties(${PELLAMARK_WINE_ARCH}.wine-prefix.remove PROPERTIES
                         FIXTURES_CLEANUP wine_prefix TIMEOUT 60)
else()
    set(PELLAMARK_WINE_RUNS OFF)
    message(STATUS "Windows tests are skipped: ${wineProbeReason}")
endif()

# Registers the test cases of a test program built for Windows. `locks` are ctest resource locks
# the program's cases hold (state they share in the prefix).
function(pellamark_wine_tests target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "LOCKS")
    set(runner bash "${PELLAMARK_WINE_RUNNER}" run ${PELLAMARK_WINE_ARCH} "${PELLAMARK_WINE_STATE}")
    if(PELLAMARK_WINE_RUNS)
        set_target_properties(${target} PROPERTIES CROSSCOMPILING_EMULATOR "${runner}")
        set(locks)
        if(arg_LOCKS)
            set(locks RESOURCE_LOCK "${arg_LOCKS}")
        endif()
        gtest_discover_tests(${target} TEST_PREFIX "${PELLAMARK_WINE_ARCH}." DISCOVERY_TIMEOUT 300
                             PROPERTIES TIMEOUT 120 LABELS unit FIXTURES_REQUIRED wine_prefix
                                        ${locks})
    else()
        # Without a Wine that runs these programs the cases can't even be listed: one test per
        # program says why it is skipped.
        add_test(NAME ${PELLAMARK_WINE_ARCH}.${target} COMMAND ${runner} $<TARGET_FILE:${target}>)
        set_tests_properties(${PELLAMARK_WINE_ARCH}.${target} PROPERTIES
                             SKIP_RETURN_CODE 77 LABELS unit)
    endif()
endfunction()
