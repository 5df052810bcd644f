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
// are stored in this file. Memory follows the entries really in the boxes.
class SampleDescriptions {
 public:
  struct Description {
    FourCC format = 0;
    bool dataInThisFile = false;
  };

  SampleDescriptions() = default;
  // Without a `dref` every sample is in this file.
  SampleDescriptions(const ByteReader& reader, const std::optional<Box>& descriptions,
                     const std::optional<Box>& dataReferences);

  // `index` is 1-based, as sample tables and fragments store it.
  const Description* find(std::uint32_t index) const;

 private:
  std::vector<Description> descriptions_;
};

}  // namespace ostrel::media
