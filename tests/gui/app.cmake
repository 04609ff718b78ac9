# main window, tray and components tests
