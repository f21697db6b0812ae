// Feeds arbitrary bytes to the Windows command-line split and to the command
// interpreter stand-in's reading of a request. No input may crash them, and:
// - arguments quoted as the C runtime documents it split back into the same
//   arguments; a line without double quotes splits at its blanks;
// - a "cmd /c" line gives back its request, and another program none;
// - the interpreter refuses with nothing to run, redirects only the handles
//   it supports, and passes a request with nothing special in it unchanged;
//   a line that holds no caret and no double quote gives the program and
//   the file names no operator character; a value is not expanded again.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/command_interpreter.h"
#include "platform/posix/windows_command_line.h"

namespace {

namespace posix = qlx::platform::posix;
using Arguments = std::vector<std::string>;

// Ends the run as a crash, saying which property failed.
void Require(bool condition, const char* property) {
  if (condition) return;
  std::fprintf(stderr, "property failed: %s\n", property);
  std::abort();
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool Holds(const std::string& text, const char* characters) {
  return text.find_first_of(characters) != std::string::npos;
}

// One argument as a program's C runtime reads it back: in double quotes when
// it is empty or holds a blank or a quote, with every quote and the
// backslashes before a quote or the closing quote escaped.
std::string QuotedArgument(const std::string& argument) {
  if (!argument.empty() && !Holds(argument, " \t\"")) return argument;
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
    } else {
      // The backslashes before a quote are doubled, and one more escapes it.
      if (c == '"') quoted.append(backslashes + 1, '\\');
      backslashes = 0;
    }
    quoted.push_back(c);
  }
  // So are those before the closing quote.
  return quoted.append(backslashes, '\\') + "\"";
}

// The program name stands in quotes without escapes, so it holds none.
std::string CommandLine(const Arguments& arguments) {
  std::string line = "\"" + arguments[0] + "\"";
  for (std::size_t i = 1; i < arguments.size(); ++i) line += " " + QuotedArgument(arguments[i]);
  return line;
}

// The input's pieces between NULs, none of which a command line can hold;
// the first, the program name, without its double quotes.
Arguments ArgumentsFrom(const std::string& input) {
  Arguments arguments(1);
  for (const char c : input) {
    if (c == '\0') {
      arguments.emplace_back();
    } else if (c != '"' || arguments.size() > 1) {
      arguments.back().push_back(c);
    }
  }
  return arguments;
}

Arguments BlankSeparatedWords(const std::string& line) {
  Arguments words;
  for (std::size_t pos = 0; pos < line.size();) {
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    const std::size_t start = pos;
    while (pos < line.size() && !IsBlank(line[pos])) ++pos;
    if (pos > start) words.push_back(line.substr(start, pos - start));
  }
  return words;
}

void CheckSplit(const std::string& input) {
  const Arguments arguments = ArgumentsFrom(input);
  Require(posix::SplitWindowsCommandLine(CommandLine(arguments)) == arguments,
          "quoted arguments split back into themselves");
  if (!Holds(input, "\"")) {
    Require(posix::SplitWindowsCommandLine(input) == BlankSeparatedWords(input),
            "a line without quotes splits at its blanks");
  }
}

void CheckInterpreterRequest(const std::string& input) {
  const std::string request = input.substr(input.find_first_not_of(" \t") == std::string::npos
                                               ? input.size()
                                               : input.find_first_not_of(" \t"));
  Require(posix::CommandInterpreterRequest("cmd /c " + input) == request,
          "cmd /c gives its request");
  Require(
      posix::CommandInterpreterRequest("\"C:\\Windows\\System32\\CMD.EXE\" /C " + input) == request,
      "cmd.exe /C gives its request");
  Require(!posix::CommandInterpreterRequest("zqtool /c " + input), "another program has none");
  const std::optional<std::string> own = posix::CommandInterpreterRequest(input);
  Require(!own || input.compare(input.size() - own->size(), own->size(), *own) == 0,
          "a request is the end of its line");
}

bool Supported(const posix::Redirection& redirection) {
  using Kind = posix::Redirection::Kind;
  const bool output = redirection.handle == 1 || redirection.handle == 2;
  switch (redirection.kind) {
    case Kind::kRead:
      return redirection.handle == 0 && !redirection.target.empty();
    case Kind::kTruncate:
    case Kind::kAppend:
      return output && !redirection.target.empty();
    case Kind::kCopy:
      return output && redirection.target.empty() && redirection.source >= 0 &&
             redirection.source <= 2;
  }
  return false;
}

// What the interpreter reads as nothing but a program's text.
bool IsPlainRequest(const std::string& line) {
  const std::size_t first = line.find_first_not_of(" \t,;=@");
  return first == 0 && !Holds(line, "^&|<>\"(\r\n") && line.find('\0') == std::string::npos;
}

void CheckInterpreter(const std::string& input) {
  const posix::InterpretedCommand command = posix::ParseCommand(input);
  if (!command.refusal.empty()) {
    Require(command.command_line.empty() && command.redirections.empty(),
            "a refused request runs nothing");
  }
  for (const posix::Redirection& redirection : command.redirections) {
    Require(Supported(redirection), "only supported redirections are made");
  }
  Require(
      !Holds(command.command_line, "\r\n") && command.command_line.find('\0') == std::string::npos,
      "the program's line holds no line end");
  const std::string line = input.substr(0, input.find_first_of(std::string("\n\0", 2)));
  if (!Holds(line, "^\"")) {
    Require(!Holds(command.command_line, "&|<>"), "no operator reaches the program unquoted");
    for (const posix::Redirection& redirection : command.redirections) {
      Require(!Holds(redirection.target, "&|<> \t"), "a file name ends at a blank or operator");
    }
  }
  if (IsPlainRequest(input)) {
    Require(
        command.refusal.empty() && command.redirections.empty() && command.command_line == input,
        "a plain request is passed on unchanged");
  }

  const auto as_written = [](const std::string& name) { return "%" + name + "%"; };
  Require(posix::ExpandVariables(input, as_written) == input, "a value is not expanded again");
  Require(posix::ExpandVariables(input, [](const std::string&) { return std::nullopt; }) == input,
          "undefined variables stay as written");
  posix::InterpretRequest(input, [&input](const std::string& name) {
    return name.size() % 2 == 0 ? std::optional<std::string>(input.substr(0, 64)) : std::nullopt;
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  CheckSplit(input);
  CheckInterpreterRequest(input);
  CheckInterpreter(input);
  return 0;
}
