#include "ByteReader.h"

#include <algorithm>
#include <cstring>

namespace ostrel::media {

ByteReader::ByteReader(std::unique_ptr<ByteSource> source)
    : source_(std::move(source)), size_(source_ ? source_->size() : 0) {}

const std::uint8_t* ByteReader::blockFor(std::uint64_t offset, std::size_t* available) const {
  std::size_t chosen = kBlockCount;
  for (std::size_t i = 0; i < kBlockCount && chosen == kBlockCount; ++i) {
    if (blocks_[i].filled && offset - blocks_[i].start < blocks_[i].length) chosen = i;
  }
  if (chosen == kBlockCount) {
    chosen = 0;  // the least recently used block, or an empty one
    for (std::size_t i = 1; i < kBlockCount; ++i) {
      if (blocks_[i].lastUse < blocks_[chosen].lastUse) chosen = i;
    }
    if (!storage_) storage_ = std::make_unique_for_overwrite<std::uint8_t[]>(kMaxReadAhead * kBlockCount);
    const std::uint64_t start = offset - offset % kBlockSize;
    const bool continues = lastReadLength_ > 0 && start == lastReadEnd_;
    const std::size_t ahead = continues ? std::min(2 * lastReadLength_, kMaxReadAhead) : kBlockSize;
    const std::size_t wanted = std::min<std::uint64_t>(ahead, size_ - start);
    blocks_[chosen].start = start;
    blocks_[chosen].length = source_->readAt(start, {storage_.get() + chosen * kMaxReadAhead, wanted});
    blocks_[chosen].filled = true;
    lastReadEnd_ = start + blocks_[chosen].length;
    lastReadLength_ = ahead;
  }
  Block& block = blocks_[chosen];
  block.lastUse = ++useCounter_;
  recent_ = storage_.get() + chosen * kMaxReadAhead;
  recentStart_ = block.start;
  recentLength_ = block.length;
  const std::uint64_t into = offset - block.start;
  if (into >= block.length) return nullptr;
  *available = block.length - into;
  return recent_ + into;
}

bool ByteReader::readThroughCache(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (!source_ || !contains(offset, out.size())) return false;
  std::size_t done = 0;
  while (done < out.size()) {
    std::size_t available = 0;
    const std::uint8_t* bytes = blockFor(offset + done, &available);
    if (bytes == nullptr) return false;  // cut short since it was opened
    const std::size_t count = std::min(available, out.size() - done);
    std::memcpy(out.data() + done, bytes, count);
    done += count;
  }
  return true;
}

}  // namespace ostrel::media
