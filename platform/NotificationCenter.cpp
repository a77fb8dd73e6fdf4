// NotificationCenter
