#include "platform/posix/windows_command_line.h"

#include "platform/posix/text_encoding.h"

namespace qlx::platform::posix {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::size_t SkipBlanks(const std::string& line, std::size_t pos) {
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  return pos;
}

// The program name at `pos` (quotes dropped, no escapes); `pos` ends past it.
std::string ParseProgramName(const std::string& line, std::size_t& pos) {
  std::string name;
  bool quoted = false;
  for (; pos < line.size() && (quoted || !IsBlank(line[pos])); ++pos) {
    if (line[pos] == '"') {
      quoted = !quoted;
    } else {
      name.push_back(line[pos]);
    }
  }
  return name;
}

// A run of backslashes at `pos`: before a quote they escape, elsewhere they
// are literal. `pos` ends at the next character still to be read.
void ParseBackslashes(const std::string& line, std::size_t& pos, std::string& argument) {
  std::size_t count = 0;
  while (pos < line.size() && line[pos] == '\\') ++count, ++pos;
  if (pos >= line.size() || line[pos] != '"') {
    argument.append(count, '\\');
    return;
  }
  argument.append(count / 2, '\\');
  if (count % 2 == 1) {
    argument.push_back('"');
    ++pos;
  }
}

std::string ParseArgument(const std::string& line, std::size_t& pos) {
  std::string argument;
  bool quoted = false;
  while (pos < line.size() && (quoted || !IsBlank(line[pos]))) {
    const char c = line[pos];
    if (c == '\\') {
      ParseBackslashes(line, pos, argument);
    } else if (c == '"' && quoted && pos + 1 < line.size() && line[pos + 1] == '"') {
      argument.push_back('"');
      pos += 2;
    } else if (c == '"') {
      quoted = !quoted;
      ++pos;
    } else {
      argument.push_back(c);
      ++pos;
    }
  }
  return argument;
}

bool IsCommandInterpreter(const std::string& program) {
  const std::size_t separator = program.find_last_of("\\/");
  const std::string base = separator == std::string::npos ? program : program.substr(separator + 1);
  return EqualIgnoringCase(base, "cmd") || EqualIgnoringCase(base, "cmd.exe");
}

}  // namespace

std::vector<std::string> SplitWindowsCommandLine(const std::string& command_line) {
  std::vector<std::string> arguments;
  std::size_t pos = SkipBlanks(command_line, 0);
  if (pos >= command_line.size()) return arguments;
  arguments.push_back(ParseProgramName(command_line, pos));
  for (pos = SkipBlanks(command_line, pos); pos < command_line.size();
       pos = SkipBlanks(command_line, pos)) {
    arguments.push_back(ParseArgument(command_line, pos));
  }
  return arguments;
}

std::optional<std::string> CommandInterpreterRequest(const std::string& command_line) {
  std::size_t pos = SkipBlanks(command_line, 0);
  if (!IsCommandInterpreter(ParseProgramName(command_line, pos))) return std::nullopt;
  pos = SkipBlanks(command_line, pos);
  std::size_t switch_end = pos;
  while (switch_end < command_line.size() && !IsBlank(command_line[switch_end])) ++switch_end;
  if (!EqualIgnoringCase(command_line.substr(pos, switch_end - pos), "/c")) return std::nullopt;
  return command_line.substr(SkipBlanks(command_line, switch_end));
}

}  // namespace qlx::platform::posix
