// NullEventPoster
