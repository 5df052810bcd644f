#pragma once

#include <cstddef>
#include <memory>

#include "Box.h"
#include "ByteReader.h"
#include "ByteSource.h"

namespace ostrel::media {

// Older QuickTime writers could store the movie box compressed: `moov` holds
// `cmov`, which holds `dcom` (the compressor) and `cmvd` (the 32-bit size of
// the movie box once inflated, then its compressed bytes). Only zlib is known.

// Far above the few megabytes that real movie headers inflate to.
inline constexpr std::size_t kMaxInflatedMovieSize = 32u << 20;

// The inflated bytes of a `cmov` box, or nothing. The stream decides the
// size: the movie is whatever it inflates to, and the stated size is not
// used. Memory grows in chunks with what the stream really inflates to, up to
// kMaxInflatedMovieSize; a stream that is cut short, corrupt, or inflates to
// more than that gives nothing.
std::unique_ptr<ByteSource> inflateMovie(const ByteReader& file, const Box& compressed);

}  // namespace ostrel::media
