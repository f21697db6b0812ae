// The service control manager as a text file, named by QLX_SERVICES_FILE
// (default /etc/qlxpatch/services), one service a line: "Name=running" or
// "Name=stopped". Lines starting with "#" or ";" are comments. The name may hold blanks and
// compares case-insensitively; blanks around the name and the state are ignored. Any other line
// (blank, a comment, another state) is no service and is kept as it is.
//
// The manager opens whenever the file can be read or does not exist; a file
// that exists but cannot be read, or that no one may write to by its
// permission bits (root included), refuses the manager with "access denied"
// (5), as the real manager refuses a caller without the rights. A missing
// file holds no service. The file is UTF-8, as Linux text is; the program's
// names are ANSI (Windows-1252). A start or stop rewrites the file beside the old one and
// renames it into place; a file that cannot be rewritten gives 5. There are
// no pending states: a change is complete once the call returns.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/posix_io.h"
#include "platform/posix/text_encoding.h"
#include "platform/posix/windows_errors.h"
#include "platform/services.h"

namespace qlx::platform {
namespace {

constexpr char kServicesFileVariable[] = "QLX_SERVICES_FILE";
constexpr char kDefaultServicesFile[] = "/etc/qlxpatch/services";
constexpr char kRunning[] = "running";
constexpr char kStopped[] = "stopped";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }
bool IsCommentStart(char c) { return c == '#' || c == ';'; }

// [begin, end) of the text with the blanks around it left out.
std::pair<std::size_t, std::size_t> TrimmedRange(const std::string& text, std::size_t begin,
                                                 std::size_t end) {
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return {begin, end};
}

// One "Name=state" line; where its state word lies, so that a change
// rewrites only that word.
struct ServiceLine {
  std::string name;
  bool running = false;
  std::size_t state_begin = 0;
  std::size_t state_end = 0;
};

std::optional<ServiceLine> ParseServiceLine(const std::string& line) {
  const std::size_t content_end = std::min(line.find('\n'), line.size());
  const auto [line_begin, line_end] = TrimmedRange(line, 0, content_end);
  if (line_begin == line_end || IsCommentStart(line[line_begin])) return std::nullopt;
  const std::size_t separator = line.rfind('=', content_end);
  if (separator == std::string::npos) return std::nullopt;
  const auto [name_begin, name_end] = TrimmedRange(line, 0, separator);
  const auto [state_begin, state_end] = TrimmedRange(line, separator + 1, content_end);
  const std::string state = line.substr(state_begin, state_end - state_begin);
  const bool running = posix::EqualIgnoringCase(state, kRunning);
  if (name_begin == name_end || (!running && !posix::EqualIgnoringCase(state, kStopped))) {
    return std::nullopt;
  }
  return ServiceLine{line.substr(name_begin, name_end - name_begin), running, state_begin,
                     state_end};
}

std::vector<std::string> SplitLinesKeepingEnds(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t newline = text.find('\n', start);
    const std::size_t end = newline == std::string::npos ? text.size() : newline + 1;
    lines.push_back(text.substr(start, end - start));
    start = end;
  }
  return lines;
}

// The file as lines, or the Windows code of why it cannot be read. A file
// that does not exist holds no line.
struct ServicesFile {
  uint32_t error = 0;
  std::vector<std::string> lines;
};

ServicesFile ReadServicesFile(const std::string& path) {
  int error_number = 0;
  const std::optional<std::string> text = posix::ReadWholeFile(path, &error_number);
  if (text) return ServicesFile{0, SplitLinesKeepingEnds(*text)};
  const bool missing = error_number == ENOENT || error_number == ENOTDIR;
  return ServicesFile{missing ? 0 : posix::kErrorAccessDenied, {}};
}

// The line of the named service, if the file has one.
std::optional<std::size_t> FindService(const ServicesFile& file, const std::string& name) {
  const std::u16string wide_name = posix::Utf16FromAnsi(name);
  for (std::size_t i = 0; i < file.lines.size(); ++i) {
    const std::optional<ServiceLine> service = ParseServiceLine(file.lines[i]);
    if (service && posix::EqualIgnoringCase(posix::Utf16FromUtf8(service->name), wide_name)) {
      return i;
    }
  }
  return std::nullopt;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line;
  return text;
}

std::string ServicesFilePath() {
  return posix::EnvironmentOr(kServicesFileVariable, kDefaultServicesFile);
}

class FileService : public Service {
 public:
  FileService(std::string file_path, std::string name)
      : file_path_(std::move(file_path)), name_(std::move(name)) {}

  uint32_t Stop() override { return ChangeState(/*running=*/false, posix::kErrorServiceNotActive); }
  uint32_t Start() override {
    return ChangeState(/*running=*/true, posix::kErrorServiceAlreadyRunning);
  }
  void WaitWhileStopPending(std::chrono::milliseconds /*limit*/) override {}

 private:
  // Moves the service to the new state; `already_there` is the code for a
  // service that is in that state already.
  uint32_t ChangeState(bool running, uint32_t already_there) {
    ServicesFile file = ReadServicesFile(file_path_);
    if (file.error != 0) return file.error;
    const std::optional<std::size_t> index = FindService(file, name_);
    if (!index) return posix::kErrorServiceDoesNotExist;
    std::string& line = file.lines[*index];
    const ServiceLine service = *ParseServiceLine(line);
    if (service.running == running) return already_there;
    if (posix::IsWriteProtected(file_path_)) return posix::kErrorAccessDenied;
    line.replace(service.state_begin, service.state_end - service.state_begin,
                 running ? kRunning : kStopped);
    if (posix::ReplaceFileContents(file_path_, Joined(file.lines)) != 0) {
      return posix::kErrorAccessDenied;
    }
    return 0;
  }

  std::string file_path_;
  std::string name_;
};

class FileServiceManager : public ServiceManager {
 public:
  explicit FileServiceManager(std::string file_path) : file_path_(std::move(file_path)) {}

  std::unique_ptr<Service> OpenNamedService(const std::string& name, uint32_t* error) override {
    const ServicesFile file = ReadServicesFile(file_path_);
    uint32_t code = file.error;
    if (code == 0 && !FindService(file, name)) code = posix::kErrorServiceDoesNotExist;
    if (error) *error = code;
    if (code != 0) return nullptr;
    return std::make_unique<FileService>(file_path_, name);
  }

 private:
  std::string file_path_;
};

class FileServices : public Services {
 public:
  std::unique_ptr<ServiceManager> OpenManager(uint32_t* error) override {
    std::string file_path = ServicesFilePath();
    const uint32_t code = posix::IsWriteProtected(file_path) ? posix::kErrorAccessDenied
                                                             : ReadServicesFile(file_path).error;
    if (error) *error = code;
    if (code != 0) return nullptr;
    return std::make_unique<FileServiceManager>(std::move(file_path));
  }
};

}  // namespace

Services& SystemServices() {
  static FileServices services;
  return services;
}

}  // namespace qlx::platform
