# Sign-up, options and about dialogs, driven as real widgets against a profile in a temporary
# folder. The window system's close command is simulated through the platform interface, hence
# the private Gui target.
find_package(Qt6 REQUIRED COMPONENTS Gui Widgets Test)
add_executable(test_dialogs test_dialogs.cpp)
target_link_libraries(test_dialogs PRIVATE pellamark_dialogs pellamark_test_support Qt6::Test
                                           Qt6::GuiPrivate GTest::gtest GTest::gmock)
# The terms file as the build puts it beside the program.
target_compile_definitions(test_dialogs PRIVATE PELLAMARK_PROGRAM_DIR="${PELLAMARK_PROGRAM_DIR}")
add_dependencies(test_dialogs pellamark_ship_terms_txt)
gtest_discover_tests(test_dialogs DISCOVERY_TIMEOUT 30
    PROPERTIES TIMEOUT 120 LABELS gui ENVIRONMENT QT_QPA_PLATFORM=offscreen)
