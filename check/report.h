#pragma once

#include <string>
#include <vector>

#include "check/checks.h"

namespace qlx::check {

// The table: a line per check (the status word, the check's name, what was
// found), and a "fix:" line after each WARN and FAIL.
std::string Table(const std::vector<Row>& rows);

// The same as one JSON document: {"check": "before"|"after", "status": the
// exit status, "rows": [{"status", "name", "found", "fix"}]}. The program's
// texts are in the ANSI code page; bytes above 127 are written as the
// characters of Windows-1252.
std::string Json(const char* check, const std::vector<Row>& rows);

// 1 when a row FAILs, else 0.
int ExitStatus(const std::vector<Row>& rows);

}  // namespace qlx::check
