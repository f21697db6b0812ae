#pragma once

#include <string>

namespace qlx::platform::posix {

// The ANSI code page of the stand-ins is Windows-1252, the code page of a
// Western European Windows. Its five unassigned bytes (0x81, 0x8D, 0x8F,
// 0x90, 0x9D) stand for the control characters of the same number, so every
// byte has a character and ANSI -> UTF-16 -> ANSI gives back the same bytes.
// A character the code page lacks becomes '?', as on Windows.
std::u16string Utf16FromAnsi(const std::string& ansi);
std::string AnsiFromUtf16(const std::u16string& text);

// UTF-16 in little-endian byte order, as the registry stores wide strings. A
// trailing odd byte is dropped.
std::u16string Utf16FromLittleEndianBytes(const std::string& bytes);
std::string LittleEndianBytesFromUtf16(const std::u16string& text);

// UTF-8; malformed sequences become U+FFFD.
std::u16string Utf16FromUtf8(const std::string& utf8);
std::string Utf8FromUtf16(const std::u16string& text);

// Between the program's ANSI texts and the UTF-8 that Linux names and
// messages are in. Every ANSI byte has a character, so nothing is lost on the
// way out; on the way back a character the code page lacks becomes '?'.
std::string Utf8FromAnsi(const std::string& ansi);
std::string AnsiFromUtf8(const std::string& utf8);

// Case-insensitive comparison as Windows compares registry and service names,
// over the characters of the ANSI code page.
char16_t FoldCase(char16_t c);
bool EqualIgnoringCase(const std::u16string& a, const std::u16string& b);
bool EqualIgnoringCase(const std::string& ansi_a, const std::string& ansi_b);

}  // namespace qlx::platform::posix
