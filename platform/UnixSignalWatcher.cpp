// UnixSignalWatcher
