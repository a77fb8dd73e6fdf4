// UserDefaults
