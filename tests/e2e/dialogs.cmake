# dialog end-to-end tests
