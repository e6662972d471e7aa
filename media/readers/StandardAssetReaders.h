#pragma once
// The readers a host offers the factory: a host (the application, the
// stand-in node) calls this once at start, before anything asks the factory
// for a reader, so that movies, stills and audio files open there.

namespace media {

// Registers the movie, image and audio readers (the factory asks them in that
// order). Calling it again changes nothing.
void registerStandardAssetReaders();

}  // namespace media
