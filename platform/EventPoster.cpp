// EventPoster
