#pragma once

// zlib streams and compressed movie boxes for the tests.

#include <zlib.h>

#include <cstdint>
#include <optional>

#include "BoxWriter.h"

namespace ostrel::testing {

// A zlib stream of `bytes`.
inline Bytes deflateBytes(const Bytes& bytes) {
  uLongf size = compressBound(uLong(bytes.size()));
  Bytes out(size);
  if (compress2(out.data(), &size, bytes.data(), uLong(bytes.size()), 9) != Z_OK) return {};
  out.resize(size);
  return out;
}

// A zlib stream of `mebibytes` MiB of zeros, made without compressing them
// all: after a full flush, deflate writes the same bytes for each further MiB.
inline Bytes deflateZeros(std::uint64_t mebibytes) {
  const Bytes mebibyte(1 << 20, 0);
  z_stream stream{};
  deflateInit(&stream, 9);
  const auto step = [&](int flush) {
    Bytes out(deflateBound(&stream, uLong(mebibyte.size())) + 64);
    stream.next_in = const_cast<std::uint8_t*>(mebibyte.data());
    stream.avail_in = flush == Z_FINISH ? 0 : uInt(mebibyte.size());
    stream.next_out = out.data();
    stream.avail_out = uInt(out.size());
    deflate(&stream, flush);
    out.erase(out.end() - stream.avail_out, out.end());  // shrinks only, unlike a resize
    return out;
  };
  Bytes stream1 = step(Z_FULL_FLUSH);
  const Bytes repeated = step(Z_FULL_FLUSH);
  Bytes finish = step(Z_FINISH);
  deflateEnd(&stream);
  for (std::uint64_t i = 2; i < mebibytes; ++i) append(stream1, repeated);
  // The trailer is the Adler-32 of all the zeros: 1, and their count modulo 65521.
  const std::uint64_t count = mebibytes << 20;
  const Bytes adler = u32(((count % 65521) << 16) | 1);
  std::copy(adler.begin(), adler.end(), finish.end() - 4);
  append(stream1, finish);
  return stream1;
}

// A movie box that holds the compressed form of `movie`.
inline Bytes compressedMovieBox(const Bytes& stream, std::uint32_t statedSize,
                                std::string_view compressor = "zlib") {
  return box("moov", {box("cmov", {box("dcom", {text(compressor)}), box("cmvd", {u32(statedSize), stream})})});
}
inline Bytes compressedMovieBox(const Bytes& movie) {
  return compressedMovieBox(deflateBytes(movie), std::uint32_t(movie.size()));
}

// The file with its top-level movie box stored compressed in the same place,
// padded with a free box so that every other offset stays as it was.
inline std::optional<Bytes> withCompressedMovie(const Bytes& file) {
  std::size_t at = 0;
  while (at + 8 <= file.size()) {
    const std::uint64_t size = (std::uint64_t(file[at]) << 24) | (file[at + 1] << 16) | (file[at + 2] << 8) | file[at + 3];
    if (size < 8 || at + size > file.size()) return std::nullopt;
    if (std::string_view(reinterpret_cast<const char*>(&file[at + 4]), 4) == "moov") {
      const Bytes movie(file.begin() + at, file.begin() + at + size);
      const Bytes compressed = compressedMovieBox(movie);
      if (compressed.size() + 8 > movie.size()) return std::nullopt;
      return cat({Bytes(file.begin(), file.begin() + at), compressed,
                  box("free", {zeros(movie.size() - compressed.size() - 8)}),
                  Bytes(file.begin() + at + size, file.end())});
    }
    at += size;
  }
  return std::nullopt;
}

}  // namespace ostrel::testing
