# The installed tree: cmake --install into a temporary prefix, then the installed program under
# the desktop harness.
find_package(Python3 COMPONENTS Interpreter)
find_program(PELLAMARK_XVFB Xvfb)
if(Python3_Interpreter_FOUND AND PELLAMARK_XVFB)
    add_test(NAME e2e_installed_tree
        COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/test_install_e2e.py)
    set_tests_properties(e2e_installed_tree PROPERTIES
        LABELS e2e
        TIMEOUT 300
        RESOURCE_LOCK pellamark_e2e_port
        ENVIRONMENT "PELLAMARK_BUILD_DIR=${PROJECT_BINARY_DIR};PELLAMARK_CMAKE=${CMAKE_COMMAND};PELLAMARK_E2E_PORT=${PELLAMARK_E2E_PORT};PELLAMARK_E2E_PROGRAM_NAME=$<TARGET_FILE_NAME:pellamark_e2e>;PELLAMARK_PROGRAM_NAME=$<TARGET_FILE_NAME:pellamark>;PELLAMARK_MODULE_NAME=$<TARGET_FILE_NAME:pellamark_webengine>;PELLAMARK_WINDOW_NAME=$<TARGET_FILE_NAME:pellamark_window>;PELLAMARK_INSTALL_BINDIR=${CMAKE_INSTALL_BINDIR};PELLAMARK_INSTALL_DATADIR=${PELLAMARK_INSTALL_DATADIR};PELLAMARK_INSTALL_MODULEDIR=${PELLAMARK_INSTALL_MODULEDIR};PELLAMARK_INSTALL_ICONDIR=${CMAKE_INSTALL_DATADIR}/icons/hicolor")
endif()
