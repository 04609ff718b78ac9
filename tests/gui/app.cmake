# main window, tray and components tests
find_package(Qt6 REQUIRED COMPONENTS Gui Widgets Test)

function(pellamark_app_gui_test name)
    add_executable(${name} ${name}.cpp)
    target_link_libraries(${name} PRIVATE pellamark_app Qt6::Test GTest::gtest ${ARGN})
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
        PROPERTIES TIMEOUT 120 LABELS gui ENVIRONMENT QT_QPA_PLATFORM=offscreen)
endfunction()

pellamark_app_gui_test(test_frmMain Qt6::GuiPrivate)
pellamark_app_gui_test(test_components pellamark_test_support)
