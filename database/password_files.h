#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace qlx {

// The password tool writes its output, the password included, into
// "pass1.txt" and "pass2.txt" in the add-on's directory. They are the
// program's own: created by it, empty and exclusively, right before the tool
// runs, and deleted on every way out.

// Their paths, as the add-on's directory names them now.
std::vector<std::string> PasswordFilePaths();

// Whether the path names one of them, in any directory and letter case.
bool IsPasswordFile(const std::string& path);

// Removes any file or link of that name (a leftover of an earlier run
// counts), then creates the file afresh, empty and for the program alone;
// false when either fails, and then the tool must not write into it.
bool PreparePasswordFile(const std::string& path);

// Deletes the file, retrying until the deadline (at least once). One that
// still cannot be deleted is emptied (a link
// is not followed), scheduled for deletion at the next start of the system,
// and logged with both outcomes as
// "QLXPatch - <path> could not be deleted (emptied|not emptied, error <code>;
// deletion at restart scheduled|refused, error <code>)".
void RemovePasswordFile(const std::string& path, std::chrono::steady_clock::time_point deadline);

// Both, each retried within the bound from now (the clean-up after an
// interruption).
void RemovePasswordFiles(std::chrono::milliseconds bound);

}  // namespace qlx
