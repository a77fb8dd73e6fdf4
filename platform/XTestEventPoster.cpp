// XTestEventPoster
