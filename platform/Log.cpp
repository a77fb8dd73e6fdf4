// Log
