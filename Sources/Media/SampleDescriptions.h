#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "Box.h"
#include "ByteReader.h"
#include "FourCC.h"

namespace ostrel::media {

// A track's sample descriptions (`stsd`) and data references (`dref`): each
// description's format, its box (for whoever reads the format's own fields)
// and whether its samples are stored in this file. Memory follows the
// entries really in the boxes.
class SampleDescriptions {
 public:
  struct DataReference {
    FourCC type = 0;          // 'url ', 'alis', ...
    bool inThisFile = false;  // the self-contained flag
    Box box;
  };

  struct Description {
    FourCC format = 0;
    std::uint16_t dataReferenceIndex = 0;  // 1-based; 0 when the entry is too short
    bool dataInThisFile = false;
    Box box;
  };

  SampleDescriptions() = default;
  // Without a `dref` every sample is in this file.
  SampleDescriptions(const ByteReader& reader, const std::optional<Box>& descriptions,
                     const std::optional<Box>& dataReferences);

  // `index` is 1-based, as sample tables and fragments store it.
  const Description* find(std::uint32_t index) const;
  const DataReference* findDataReference(std::uint16_t index) const;

  std::span<const Description> all() const { return descriptions_; }

 private:
  std::vector<Description> descriptions_;
  std::vector<DataReference> dataReferences_;
};

}  // namespace ostrel::media
