#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "Explain.h"

namespace ostrel::explain {

// The text with every byte that is not part of well-formed UTF-8 written as
// U+FFFD, so that output stays valid whatever a file name holds.
std::string validUtf8(std::string_view text);

// One file's explanation as one JSON object: the same keys for every file,
// null where a value does not apply.
nlohmann::ordered_json jsonRecord(const Explanation& explanation);
// The same object on one line, with its line feed.
std::string jsonLine(const Explanation& explanation);

// RFC 4180 rows: the header, then one row per file, each with its CRLF.
std::string csvHeader();
std::string csvRow(const Explanation& explanation);

}  // namespace ostrel::explain
