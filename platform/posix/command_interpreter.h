#pragma once

// The command interpreter's reading of a "/c" request, as Windows' cmd reads a
// line typed at its prompt, for a stand-in that then starts the program itself.
// Pure text in, structure out: nothing here looks at files, processes or the
// real environment, so any byte sequence can be fed to it.
//
// The steps, in cmd's order:
//  1. The outer-quote rule: a request that starts with a double quote loses
//     that quote and the last double quote in it.
//  2. A word after the program's that begins, perhaps after a double quote,
//     with "<letter>:\" is handed to a path mapper, which may give the Linux path for it (a
//     drive letter mapped to a directory); every other word stays. Then
//     every backslash becomes a slash, so Windows paths name Linux files.
//  3. %NAME% is replaced by the variable's value. A name with no value leaves
//     its first percent sign as written, and reading goes on right after it
//     (so "%%" is two percent signs and "%A%B%" may still expand "%B%").
//  4. The line is read up to its first line feed or NUL; carriage returns are
//     dropped. Outside double quotes a caret takes the next character
//     literally and is itself dropped; the redirections are taken out; "&"
//     and "|" (alone or doubled) and a "(" block are refused, since the
//     stand-in runs exactly one program. Double quotes are kept: the program
//     splits its command line by the Windows rules itself. Every other
//     character ($, `, #, ~, [, ], *, ?, ;, ', !) is plain text.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qlx::platform::posix {

// A redirection of one standard handle (0 input, 1 output, 2 error), applied
// in the order written: "<", ">", ">>", "1>", "1>>", "2>", "2>>", or a copy of
// another handle such as "2>&1".
struct Redirection {
  enum class Kind { kRead, kTruncate, kAppend, kCopy };
  int handle = 1;
  Kind kind = Kind::kTruncate;
  std::string target;  // the file name, quotes and carets removed (not for kCopy)
  int source = 1;      // the handle copied (kCopy only)

  bool operator==(const Redirection& other) const {
    return handle == other.handle && kind == other.kind && target == other.target &&
           source == other.source;
  }
};

struct InterpretedCommand {
  // The program and its arguments as the program receives its command line:
  // quotes kept, carets consumed, redirections taken out (their blanks stay).
  std::string command_line;
  std::vector<Redirection> redirections;
  // Not empty when the request is refused: the one-line reason, for standard
  // error. Nothing is to be run or opened then.
  std::string refusal;
};

// The value of an environment variable, or nothing when it is not set.
using VariableLookup = std::function<std::optional<std::string>(const std::string& name)>;

// The Linux path for a Windows path that begins with "<letter>:\", or
// nothing to leave it as it is.
using PathMapper = std::function<std::optional<std::string>(const std::string& path)>;

// Step 1.
std::string WithoutOuterQuotes(const std::string& request);

// Step 3.
std::string ExpandVariables(const std::string& text, const VariableLookup& lookup);

// Step 4, on a line whose variables are expanded.
InterpretedCommand ParseCommand(const std::string& line);

// The drive paths of step 2: a quoted one keeps its quotes, and an unquoted
// one whose Linux path holds a blank gets them.
std::string WithMappedPaths(const std::string& text, const PathMapper& map_path);

// Steps 1 to 4.
InterpretedCommand InterpretRequest(const std::string& request, const VariableLookup& lookup,
                                    const PathMapper& map_path = {});

}  // namespace qlx::platform::posix
