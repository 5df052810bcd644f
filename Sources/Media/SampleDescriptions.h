#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "Box.h"
#include "ByteReader.h"
#include "FourCC.h"

namespace ostrel::media {

// What the samples of a track need from its sample descriptions (`stsd`) and
// data references (`dref`): each description's format and whether its samples
// are stored in this file.
class SampleDescriptions {
 public:
  struct Description {
    FourCC format = 0;
    bool dataInThisFile = false;
  };

  SampleDescriptions() = default;
  SampleDescriptions(const ByteReader& reader, const Box& media);

  // `index` is 1-based, as sample tables and fragments store it.
  const Description* find(std::uint32_t index) const;

 private:
  // Real files carry a handful; a file claiming more is not given memory for them.
  static constexpr std::size_t kMaxEntries = 1024;

  std::vector<Description> descriptions_;
};

}  // namespace ostrel::media
