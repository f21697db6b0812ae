#pragma once

#include <string>

namespace qlx {

enum class RegistryRoot { kLocalMachine };

// The text of a value up to its first zero byte; a single blank, " ", when
// the key or value is missing, unreadable or holds no text.
std::string ReadRegistryValue(RegistryRoot root, std::string key_path, std::string value_name);

// Overwrites an existing string value with the text, keeping its type.
// Creates nothing: a missing key or value, an empty value, or a value that is
// not a string (numbers, raw bytes) gives false and stays as it was.
bool UpdateRegistryValue(RegistryRoot root, std::string key_path, std::string value_name,
                         std::string data);

}  // namespace qlx
