// DistributedNotificationCenter
