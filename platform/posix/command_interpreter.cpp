#include "platform/posix/command_interpreter.h"

#include <algorithm>

#include "platform/posix/windows_command_line.h"

namespace qlx::platform::posix {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// cmd skips these before the program name ("@" is its echo switch).
bool IsLeadingFiller(char c) {
  return IsCommandLineBlank(c) || c == ',' || c == ';' || c == '=' || c == '@';
}

// A file name after a redirection sign ends at a blank or at the next
// operator outside quotes.
bool EndsTarget(char c) {
  return IsCommandLineBlank(c) || c == '<' || c == '>' || c == '&' || c == '|';
}

// The line as cmd reads it: up to the first line feed (or NUL, where a C
// string ends), without carriage returns.
std::string ReadableLine(const std::string& line) {
  std::string text = line.substr(0, line.find_first_of(std::string("\n\0", 2)));
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

class CommandParser {
 public:
  explicit CommandParser(const std::string& line) : line_(ReadableLine(line)) {}

  InterpretedCommand Parse() {
    while (pos_ < line_.size() && IsLeadingFiller(line_[pos_])) ++pos_;
    if (pos_ < line_.size() && line_[pos_] == '(') {
      Refuse("The command interpreter stand-in runs one program a line; '(' is refused.");
    }
    while (pos_ < line_.size() && result_.refusal.empty()) ReadNext();
    if (!result_.refusal.empty()) {
      result_.command_line.clear();
      result_.redirections.clear();
    }
    return result_;
  }

 private:
  void ReadNext() {
    const char c = line_[pos_];
    if (quoted_) {
      Append(c);
      quoted_ = c != '"';
      ++pos_;
    } else if (c == '^') {
      ++pos_;
      if (pos_ < line_.size()) Append(line_[pos_++]);
    } else if (c == '&' || c == '|') {
      RefuseOperator();
    } else if (c == '<' || c == '>') {
      ReadRedirection();
    } else if (c == '"') {
      Append(c);
      quoted_ = true;
      ++pos_;
    } else {
      AppendPlain(c);
      ++pos_;
    }
  }

  // A digit standing alone as the start of a word may name the handle of the
  // redirection that follows it ("2>").
  void AppendPlain(char c) {
    std::string& text = result_.command_line;
    const bool starts_word = text.empty() || IsCommandLineBlank(text.back());
    text.push_back(c);
    handle_digit_ = IsDigit(c) && starts_word;
  }

  void Append(char c) {
    result_.command_line.push_back(c);
    handle_digit_ = false;
  }

  int TakeHandleDigit(int default_handle) {
    if (!handle_digit_) return default_handle;
    handle_digit_ = false;
    const int handle = result_.command_line.back() - '0';
    result_.command_line.pop_back();
    return handle;
  }

  void ReadRedirection() {
    const char sign = line_[pos_++];
    Redirection redirection;
    redirection.handle = TakeHandleDigit(sign == '<' ? 0 : 1);
    redirection.kind = sign == '<' ? Redirection::Kind::kRead : Redirection::Kind::kTruncate;
    if (sign == '>' && Next('>')) redirection.kind = Redirection::Kind::kAppend;
    const std::string written = std::to_string(redirection.handle) + sign;
    if (Next('&')) {
      if (sign == '<' || redirection.kind == Redirection::Kind::kAppend ||
          !ReadSourceHandle(redirection)) {
        return RefuseRedirection(written + "&");
      }
    } else {
      redirection.target = ReadTarget();
      if (redirection.target.empty()) return Refuse("The syntax of the command is incorrect.");
    }
    const bool supported =
        sign == '<' ? redirection.handle == 0 : redirection.handle == 1 || redirection.handle == 2;
    if (!supported) return RefuseRedirection(written);
    result_.redirections.push_back(redirection);
  }

  bool ReadSourceHandle(Redirection& redirection) {
    if (pos_ >= line_.size() || line_[pos_] < '0' || line_[pos_] > '2') return false;
    redirection.kind = Redirection::Kind::kCopy;
    redirection.source = line_[pos_++] - '0';
    return true;
  }

  // The file name: quotes group and are removed, carets escape.
  std::string ReadTarget() {
    while (pos_ < line_.size() && IsCommandLineBlank(line_[pos_])) ++pos_;
    std::string target;
    bool quoted = false;
    while (pos_ < line_.size() && (quoted || !EndsTarget(line_[pos_]))) {
      const char c = line_[pos_++];
      if (c == '"') {
        quoted = !quoted;
      } else if (c == '^' && !quoted) {
        if (pos_ < line_.size()) target.push_back(line_[pos_++]);
      } else {
        target.push_back(c);
      }
    }
    return target;
  }

  bool Next(char c) {
    if (pos_ >= line_.size() || line_[pos_] != c) return false;
    ++pos_;
    return true;
  }

  void RefuseOperator() {
    std::string written(1, line_[pos_]);
    if (pos_ + 1 < line_.size() && line_[pos_ + 1] == written[0]) written.push_back(written[0]);
    Refuse("The command interpreter stand-in runs one program a line; '" + written +
           "' is refused.");
  }

  void RefuseRedirection(const std::string& written) {
    Refuse("The command interpreter stand-in does not support the redirection '" + written + "'.");
  }

  void Refuse(const std::string& reason) { result_.refusal = reason; }

  const std::string line_;
  std::size_t pos_ = 0;
  bool quoted_ = false;
  bool handle_digit_ = false;
  InterpretedCommand result_;
};

// Whether the text begins with a letter, a colon and a backslash.
bool IsDrivePath(const std::string& text) {
  const auto first = text.empty() ? 0 : static_cast<unsigned char>(text[0]);
  const bool letter = (first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z');
  return letter && text.size() >= 3 && text[1] == ':' && text[2] == '\\';
}

// A word's path runs to its closing quote, or, unquoted, to the word's end
// or the first redirection or operator sign.
std::string MappedWord(const std::string& word, const PathMapper& map_path) {
  const bool quoted = word.front() == '"';
  const std::size_t begin = quoted ? 1 : 0;
  const std::size_t end = std::min(word.find_first_of(quoted ? "\"" : "<>&|", begin), word.size());
  const std::string path = word.substr(begin, end - begin);
  if (!IsDrivePath(path)) return word;
  const std::optional<std::string> mapped = map_path(path);
  if (!mapped) return word;
  const bool needs_quotes = !quoted && mapped->find_first_of(" \t") != std::string::npos;
  const std::string quote = needs_quotes ? "\"" : "";
  return word.substr(0, begin) + quote + *mapped + quote + word.substr(end);
}

}  // namespace

std::string WithMappedPaths(const std::string& text, const PathMapper& map_path) {
  std::string mapped;
  std::size_t pos = 0;
  bool program_seen = false;
  while (pos < text.size()) {
    if (IsCommandLineBlank(text[pos])) {
      mapped.push_back(text[pos++]);
      continue;
    }
    std::size_t end = pos;
    for (bool quoted = false; end < text.size() && (quoted || !IsCommandLineBlank(text[end]));
         ++end) {
      if (text[end] == '"') quoted = !quoted;
    }
    // The program itself is looked for as ever, never on a mapped drive.
    const std::string word = text.substr(pos, end - pos);
    mapped += program_seen ? MappedWord(word, map_path) : word;
    program_seen = true;
    pos = end;
  }
  return mapped;
}

std::string WithoutOuterQuotes(const std::string& request) {
  std::string text = request;
  if (text.empty() || text.front() != '"') return text;
  text.erase(0, 1);
  const std::size_t last_quote = text.rfind('"');
  if (last_quote != std::string::npos) text.erase(last_quote, 1);
  return text;
}

std::string ExpandVariables(const std::string& text, const VariableLookup& lookup) {
  std::string expanded;
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (text[pos] != '%') {
      expanded.push_back(text[pos++]);
      continue;
    }
    const std::size_t closing = text.find_first_of("%\n", pos + 1);
    std::optional<std::string> value;
    if (closing != std::string::npos && text[closing] == '%' && closing > pos + 1) {
      value = lookup(text.substr(pos + 1, closing - pos - 1));
    }
    if (value) {
      expanded += *value;
      pos = closing + 1;
    } else {
      expanded.push_back('%');
      pos += 1;
    }
  }
  return expanded;
}

InterpretedCommand ParseCommand(const std::string& line) { return CommandParser(line).Parse(); }

InterpretedCommand InterpretRequest(const std::string& request, const VariableLookup& lookup,
                                    const PathMapper& map_path) {
  std::string text = WithoutOuterQuotes(request);
  if (map_path) text = WithMappedPaths(text, map_path);
  std::replace(text.begin(), text.end(), '\\', '/');
  return ParseCommand(ExpandVariables(text, lookup));
}

}  // namespace qlx::platform::posix
