// UinputEventPoster
