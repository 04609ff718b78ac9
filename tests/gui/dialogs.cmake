# dialog tests
