// Replaced by this folder's sources.
