// RecordingEventPoster
