# The Debian packages (cpack), unpacked and checked, and the desktops besides X11 with an XEmbed
# tray: a D-Bus tray (a real panel) and Wayland.
find_package(Python3 COMPONENTS Interpreter)
find_program(PELLAMARK_XVFB Xvfb)
if(Python3_Interpreter_FOUND AND PELLAMARK_XVFB AND NOT WIN32)
    add_test(NAME e2e_package
        COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/test_package_e2e.py)
    set_tests_properties(e2e_package PROPERTIES
        LABELS e2e
        TIMEOUT 1500
        # Its flows run in a network namespace of their own, but share the CPU with the rest.
        # Several checks in one run: a check that cannot run here prints why ("skipped '...'")
        # and the others still count, so the run as a whole is never reported as skipped.
        RESOURCE_LOCK pellamark_e2e_port
        ENVIRONMENT "PELLAMARK_BUILD_DIR=${PROJECT_BINARY_DIR};PELLAMARK_CPACK=${CMAKE_CPACK_COMMAND};PELLAMARK_SERVICE_HOST=${PELLAMARK_SERVICE_HOST};PELLAMARK_VERSION=${PROJECT_VERSION}")

    foreach(desktop d_bus_tray wayland)
        if(desktop STREQUAL d_bus_tray)
            set(case test_d_bus_tray_registers_the_icon_activates_the_window_and_offers_the_menu)
        else()
            set(case test_wayland_without_a_tray_signs_up_shows_the_page_and_minimises_on_close)
        endif()
        add_test(NAME e2e_desktop_${desktop}
            COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/test_desktops_e2e.py
                    DesktopsTest.${case})
        set_tests_properties(e2e_desktop_${desktop} PROPERTIES
            LABELS e2e
            TIMEOUT 300
            RESOURCE_LOCK pellamark_e2e_port
            SKIP_REGULAR_EXPRESSION "skipped '"
            ENVIRONMENT "PELLAMARK_E2E_PROGRAM=$<TARGET_FILE:pellamark_e2e>;PELLAMARK_E2E_PORT=${PELLAMARK_E2E_PORT}")
    endforeach()
endif()
