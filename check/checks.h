#pragma once

#include <string>
#include <vector>

namespace qlx::check {

enum class Status { kOk, kWarn, kFail, kSkip };

// One line of the check's table: what was checked, what was found, and for a
// WARN or FAIL what to do.
struct Row {
  Status status;
  std::string name;
  std::string found;
  std::string fix;
};

// Before the patch: whether any of its steps would fail here. Every check
// reads what the patch reads, through the patch's own functions. `directory`
// is the folder the patch will run from.
std::vector<Row> CheckBefore(const std::string& directory);

// After the patch: whether its result is in place, whatever the log's history.
std::vector<Row> CheckAfter(const std::string& directory);

}  // namespace qlx::check
