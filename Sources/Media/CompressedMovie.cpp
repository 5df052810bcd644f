#include "CompressedMovie.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "Fields.h"

namespace ostrel::media {

namespace {

// A zlib inflate stream, ended on every path.
class Inflater {
 public:
  Inflater() { ready_ = inflateInit(&stream_) == Z_OK; }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  ~Inflater() {
    if (ready_) inflateEnd(&stream_);
  }
  bool ready() const { return ready_; }
  z_stream& stream() { return stream_; }

 private:
  z_stream stream_{};
  bool ready_ = false;
};

// Bytes inflated into equal chunks, read as one range.
class InflatedBytes final : public ByteSource {
 public:
  static constexpr std::size_t kChunkSize = 256u << 10;

  std::uint64_t size() const override { return size_; }

  std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override {
    if (offset >= size_) return 0;
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), size_ - offset));
    std::size_t done = 0;
    while (done < wanted) {
      const std::uint64_t at = offset + done;
      const std::size_t into = static_cast<std::size_t>(at % kChunkSize);
      const std::size_t count = std::min(wanted - done, kChunkSize - into);
      std::memcpy(out.data() + done, chunks_[static_cast<std::size_t>(at / kChunkSize)].get() + into, count);
      done += count;
    }
    return done;
  }

  // Room for the next inflated bytes, after those already there; empty once
  // the limit is reached.
  std::span<std::uint8_t> room() {
    if (size_ == chunks_.size() * kChunkSize) {
      if (size_ >= kMaxInflatedMovieSize) return {};
      chunks_.push_back(std::make_unique_for_overwrite<std::uint8_t[]>(kChunkSize));
    }
    const std::size_t into = static_cast<std::size_t>(size_ % kChunkSize);
    return {chunks_.back().get() + into, kChunkSize - into};
  }
  void filled(std::size_t count) { size_ += count; }

 private:
  std::vector<std::unique_ptr<std::uint8_t[]>> chunks_;
  std::uint64_t size_ = 0;
};

}  // namespace

std::unique_ptr<ByteSource> inflateMovie(const ByteReader& file, const Box& compressed) {
  std::optional<Box> compressor, data;
  ChildBoxes children(file, compressed);
  while (const std::optional<Box> child = children.next()) {
    if (child->type == fourCC("dcom") && !compressor) compressor = child;
    if (child->type == fourCC("cmvd") && !data) data = child;
  }
  if (!compressor || !data) return nullptr;
  Fields compressorFields(file, *compressor);
  if (compressorFields.u32() != fourCC("zlib")) return nullptr;
  Fields dataFields(file, *data);
  if (!dataFields.skip(4)) return nullptr;  // the stated size

  Inflater inflater;
  if (!inflater.ready()) return nullptr;
  z_stream& stream = inflater.stream();
  auto movie = std::make_unique<InflatedBytes>();
  std::array<std::uint8_t, 16u << 10> input{};
  std::uint64_t next = dataFields.position();
  for (;;) {
    if (stream.avail_in == 0) {
      const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(input.size(), data->end() - next));
      if (count == 0 || !file.read(next, {input.data(), count})) return nullptr;  // cut short
      next += count;
      stream.next_in = input.data();
      stream.avail_in = static_cast<uInt>(count);
    }
    const std::span<std::uint8_t> room = movie->room();
    if (room.empty()) return nullptr;  // larger than any real movie header
    stream.next_out = room.data();
    stream.avail_out = static_cast<uInt>(room.size());
    const int status = ::inflate(&stream, Z_NO_FLUSH);
    movie->filled(room.size() - stream.avail_out);
    if (status == Z_STREAM_END) return movie;
    if (status != Z_OK && status != Z_BUF_ERROR) return nullptr;  // corrupt
  }
}

}  // namespace ostrel::media
