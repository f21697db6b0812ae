#pragma once

#include <cstdint>
#include <functional>
#include <string>

// The text operations the readers apply to what they find: the trim of every
// value, and the white-space removal and digit parsing of the other readers.
#include "platform/text.h"

namespace qlx {

// Called for each line of a properties file with its key and its trimmed
// value; returns true to go on, false to stop the scan.
using PropertyVisitor = std::function<bool(const std::string& key, const std::string& value)>;

struct PropertyLine {
  std::string key;    // the text before the first "=", untrimmed
  std::string value;  // the text after it, untrimmed
  bool has_separator = false;
};

// Reads the file line by line (at most 199 characters a read; a longer line
// arrives in pieces, each a line of its own) and hands every line that holds
// an "=" to the visitor, in file order. False when the file cannot be opened;
// *open_error, when given, then holds the Windows error code of the open.
bool ScanPropertiesFile(const std::string& path, const PropertyVisitor& visitor,
                        uint32_t* open_error = nullptr);

// Splits a line at its first "=". A line without one is all key and value at
// once, and has no separator.
PropertyLine SplitPropertyLine(const std::string& line);

}  // namespace qlx
