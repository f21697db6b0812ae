#pragma once

#include <cstdint>
#include <functional>
#include <string>

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

// True for the six white-space characters: space, \t, \n, \v, \f and \r.
bool IsWhiteSpace(char c);

// Removes white space from the end of the text, in place, and returns the result.
std::string TrimTrailingWhiteSpace(std::string& text);

// Removes every white-space character from the text, in place.
void RemoveWhiteSpace(std::string& text);

// The decimal value of a text made only of the digits 0 to 9; 0 for any
// other text, for the empty text and for a value above 2147483647.
int ParseDigits(const std::string& text);

// Every line of an open text file, joined, read in pieces of at most 199
// characters as the properties scan reads them.
// *opened tells whether the file could be opened, *open_error (when given)
// the Windows error code when it could not.
std::string ReadWholeText(const std::string& path, bool* opened, uint32_t* open_error = nullptr);

}  // namespace qlx
