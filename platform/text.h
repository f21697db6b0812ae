#pragma once

// The program's general text operations, on its narrow texts. Every layer
// uses them (the properties readers, the password and time-out readers, the
// Linux stand-ins), so they live at the bottom, in the program's own
// namespace.

#include <cstddef>
#include <string>

namespace qlx {

// True for the six white-space characters: space, \t, \n, \v, \f and \r.
// Bytes above 127 are never white space.
bool IsWhiteSpace(char c);

// Removes white space from the end of the text, in place, and returns the result.
std::string TrimTrailingWhiteSpace(std::string& text);

// Removes every white-space character from the text, in place.
void RemoveWhiteSpace(std::string& text);

// The decimal value of a text made only of the digits 0 to 9; 0 for any
// other text, for the empty text and for a value above 2147483647.
int ParseDigits(const std::string& text);

// The text without the line feeds and carriage returns at its end.
std::string WithoutTrailingLineBreaks(std::string text);

// One entry of a fixed table that names numbers: signals, error codes.
template <typename Number>
struct NumberText {
  Number number;
  const char* text;
};

// The table's text for the number, or null when the table has none.
template <typename Number, std::size_t kEntries>
const char* TextOfNumber(const NumberText<Number> (&table)[kEntries], Number number) {
  for (const NumberText<Number>& entry : table) {
    if (entry.number == number) return entry.text;
  }
  return nullptr;
}

}  // namespace qlx
