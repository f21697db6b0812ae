#include "check/report.h"

#include <algorithm>
#include <cstdio>

namespace qlx::check {
namespace {

constexpr std::size_t kNameWidth = 16;

const char* Word(Status status) {
  switch (status) {
    case Status::kOk:
      return "OK";
    case Status::kWarn:
      return "WARN";
    case Status::kFail:
      return "FAIL";
    case Status::kSkip:
      break;
  }
  return "SKIP";
}

// Windows-1252's characters for the bytes 0x80 to 0x9F (0 where it has none);
// the bytes above are Latin-1's.
constexpr char16_t kWindows1252[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::string JsonString(const std::string& text) {
  std::string json = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    char escaped[8];
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (byte < 0x20 || byte >= 0x80) {
      const unsigned code =
          byte >= 0x80 && byte < 0xA0 ? kWindows1252[byte - 0x80] : static_cast<unsigned>(byte);
      std::snprintf(escaped, sizeof escaped, "\\u%04X", code != 0 ? code : 0xFFFDu);
      json += escaped;
    } else {
      json += c;
    }
  }
  return json + "\"";
}

}  // namespace

std::string Table(const std::vector<Row>& rows) {
  std::string table;
  for (const Row& row : rows) {
    std::string name = row.name;
    name.resize(std::max(kNameWidth, name.size()), ' ');
    std::string word = Word(row.status);
    word.resize(5, ' ');
    table += word + name + " " + row.found + "\n";
    if (row.status == Status::kWarn || row.status == Status::kFail) {
      table += "     fix: " + row.fix + "\n";
    }
  }
  return table;
}

std::string Json(const char* check, const std::vector<Row>& rows) {
  std::string json = std::string("{\"check\": ") + JsonString(check) +
                     ", \"status\": " + std::to_string(ExitStatus(rows)) + ", \"rows\": [";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    json += std::string(i ? ", " : "") + "{\"status\": " + JsonString(Word(row.status)) +
            ", \"name\": " + JsonString(row.name) + ", \"found\": " + JsonString(row.found) +
            ", \"fix\": " + JsonString(row.fix) + "}";
  }
  return json + "]}\n";
}

int ExitStatus(const std::vector<Row>& rows) {
  const bool failed = std::any_of(rows.begin(), rows.end(),
                                  [](const Row& row) { return row.status == Status::kFail; });
  return failed ? 1 : 0;
}

}  // namespace qlx::check
