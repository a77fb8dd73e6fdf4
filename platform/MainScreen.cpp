// MainScreen
