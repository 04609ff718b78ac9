# main window end-to-end tests
