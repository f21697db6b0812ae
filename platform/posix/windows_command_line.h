#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qlx::platform::posix {

// Splits a command line as a Windows program's C runtime splits it into argv.
// The program name ends at the first blank outside double quotes, and its
// quotes are dropped. In the arguments, 2n backslashes before a double quote
// give n backslashes and the quote opens or closes a quoted part; 2n+1 give n
// backslashes and a literal quote; two quotes inside a quoted part give one
// literal quote; other backslashes are literal.
std::vector<std::string> SplitWindowsCommandLine(const std::string& command_line);

// When the command line runs the command interpreter ("cmd" or "cmd.exe", in
// any case and directory) with "/c" or "/C" as its first argument: the text
// after that switch, leading blanks skipped, as the interpreter receives it.
std::optional<std::string> CommandInterpreterRequest(const std::string& command_line);

}  // namespace qlx::platform::posix
