// The service control manager as a text file, named by QLX_SERVICES_FILE
// (default /etc/qlxpatch/services), one service a line: "Name=running" or
// "Name=stopped". Lines starting with "#" or ";" are comments. The name may
// hold blanks and compares case-insensitively; white space around the name
// and the state is ignored (a CR LF file reads as an LF one). Any other line
// (blank, a comment, another state) is no service and is kept as it is.
//
// The manager opens whenever the file can be read or does not exist; a file
// that exists but cannot be read, or that no one may write to by its
// permission bits (root included), refuses the manager with "access denied"
// (5), as the real manager refuses a caller without the rights. A missing
// file holds no service. The file is UTF-8, as Linux text is; the program's
// names are ANSI (Windows-1252). A start or stop writes the new state word
// over the old one in place: "running" and "stopped" have the same length, so
// no other byte moves and a line another program appends meanwhile stays. A
// file that cannot be written gives 5.
// There are no pending states: a change is complete once the call returns.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/posix_io.h"
#include "platform/posix/text_encoding.h"
#include "platform/posix/trace.h"
#include "platform/services.h"
#include "platform/text.h"
#include "platform/windows_codes.h"

namespace qlx::platform {
namespace {

constexpr char kServicesFileVariable[] = "QLX_SERVICES_FILE";
constexpr char kDefaultServicesFile[] = "/etc/qlxpatch/services";
constexpr char kRunning[] = "running";
constexpr char kStopped[] = "stopped";

bool IsCommentStart(char c) { return c == '#' || c == ';'; }

// [begin, end) of the text with the white space around it left out.
std::pair<std::size_t, std::size_t> TrimmedRange(const std::string& text, std::size_t begin,
                                                 std::size_t end) {
  while (begin < end && IsWhiteSpace(text[begin])) ++begin;
  while (end > begin && IsWhiteSpace(text[end - 1])) --end;
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
using ServicesFile = std::vector<std::string>;

Result<ServicesFile> ReadServicesFile(const std::string& path) {
  const Result<std::string> text = posix::ReadWholeFile(path);
  if (text) return SplitLinesKeepingEnds(*text);
  const bool missing = text.error() == kErrorFileNotFound || text.error() == kErrorPathNotFound;
  if (missing) return ServicesFile{};
  return Failure{kErrorAccessDenied};
}

// The line of the named service, if the file has one.
std::optional<std::size_t> FindService(const ServicesFile& lines, const std::string& name) {
  const std::u16string wide_name = posix::Utf16FromAnsi(name);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::optional<ServiceLine> service = ParseServiceLine(lines[i]);
    if (service && posix::EqualIgnoringCase(posix::Utf16FromUtf8(service->name), wide_name)) {
      return i;
    }
  }
  return std::nullopt;
}

// Where the named service's state word begins in the file's text.
std::optional<std::size_t> StateWordOffset(const std::string& text, const std::string& name) {
  const ServicesFile lines = SplitLinesKeepingEnds(text);
  const std::optional<std::size_t> index = FindService(lines, name);
  if (!index) return std::nullopt;
  std::size_t offset = 0;
  for (std::size_t i = 0; i < *index; ++i) offset += lines[i].size();
  const ServiceLine service = *ParseServiceLine(lines[*index]);
  if (service.state_end - service.state_begin != sizeof kRunning - 1) return std::nullopt;
  return offset + service.state_begin;
}

// Writes the state word of the named service over the one the file holds
// now, through one descriptor; 0 or an errno.
int WriteStateInPlace(const std::string& path, const std::string& name, const char* state) {
  int error = 0;
  const posix::UniqueFd fd = posix::OpenRegularFile(path, O_RDWR, &error);
  if (!fd) return error;
  std::string text;
  error = posix::ReadToEnd(fd.get(), [&text](const char* data, std::size_t size) {
    text.append(data, size);
    return 0;
  });
  if (error != 0) return error;
  const std::optional<std::size_t> offset = StateWordOffset(text, name);
  if (!offset) return ENOENT;
  const std::size_t length = std::strlen(state);
  if (::pwrite(fd.get(), state, length, static_cast<off_t>(*offset)) !=
      static_cast<ssize_t>(length)) {
    return errno != 0 ? errno : EIO;
  }
  return ::fsync(fd.get()) == 0 ? 0 : errno;
}

// The service's state as the file tells it now: "running", "stopped", or "-"
// when the file holds no such service or cannot be read.
std::string StateWord(const std::string& path, const std::string& name) {
  const Result<ServicesFile> lines = ReadServicesFile(path);
  const std::optional<std::size_t> index = lines ? FindService(*lines, name) : std::nullopt;
  if (!index) return "-";
  return ParseServiceLine((*lines)[*index])->running ? kRunning : kStopped;
}

// A missing file is named once on standard error, with the variable that
// says where it is.
void NoteIfMissing(const std::string& path) {
  if (!posix::Exists(path)) {
    posix::NoteOnce("no services file at " + path + " (" + kServicesFileVariable + " names it)");
  }
}

std::string ServicesFilePath() {
  return posix::EnvironmentOr(kServicesFileVariable, kDefaultServicesFile);
}

class FileService : public Service {
 public:
  FileService(std::string file_path, std::string name)
      : file_path_(std::move(file_path)), name_(std::move(name)) {}

  Result<> Stop() override {
    return Traced("stop",
                  [this] { return ChangeState(/*running=*/false, kErrorServiceNotActive); });
  }
  Result<> Start() override {
    return Traced("start",
                  [this] { return ChangeState(/*running=*/true, kErrorServiceAlreadyRunning); });
  }
  // The file knows no stop in progress.
  void WaitWhileStopPending(std::chrono::milliseconds /*limit*/) override {}
  bool StopPending() override { return false; }
  // Running or stopped; the file knows no disabled service.
  Result<ServiceStatus> Status() override {
    const Result<ServicesFile> lines = ReadServicesFile(file_path_);
    if (!lines) return Failure{lines.error()};
    const std::optional<std::size_t> index = FindService(*lines, name_);
    if (!index) return Failure{kErrorServiceDoesNotExist};
    const bool running = ParseServiceLine((*lines)[*index])->running;
    return ServiceStatus{running ? ServiceState::kRunning : ServiceState::kStopped, false};
  }

 private:
  // Runs the request and traces the service's state before and after it.
  template <typename Request>
  Result<> Traced(const char* what, Request request) {
    const std::string before = StateWord(file_path_, name_);
    const Result<> result = request();
    posix::Trace({"service", posix::Utf8FromAnsi(name_), what, before, StateWord(file_path_, name_),
                  std::to_string(result.error())});
    return result;
  }

  // Moves the service to the new state; `already_there` is the code for a
  // service that is in that state already.
  Result<> ChangeState(bool running, uint32_t already_there) {
    Result<ServicesFile> lines = ReadServicesFile(file_path_);
    if (!lines) return Failure{lines.error()};
    const std::optional<std::size_t> index = FindService(*lines, name_);
    if (!index) return Failure{kErrorServiceDoesNotExist};
    const ServiceLine service = *ParseServiceLine((*lines)[*index]);
    if (service.running == running) return Failure{already_there};
    if (posix::IsWriteProtected(file_path_)) return Failure{kErrorAccessDenied};
    if (WriteStateInPlace(file_path_, name_, running ? kRunning : kStopped) != 0) {
      return Failure{kErrorAccessDenied};
    }
    return {};
  }

  std::string file_path_;
  std::string name_;
};

class FileServiceManager : public ServiceManager {
 public:
  explicit FileServiceManager(std::string file_path) : file_path_(std::move(file_path)) {}

  Result<std::unique_ptr<Service>> OpenNamedService(const std::string& name) override {
    const Result<ServicesFile> lines = ReadServicesFile(file_path_);
    if (!lines) return Failure{lines.error()};
    if (!FindService(*lines, name)) return Failure{kErrorServiceDoesNotExist};
    return std::unique_ptr<Service>(std::make_unique<FileService>(file_path_, name));
  }

 private:
  std::string file_path_;
};

class FileServices : public Services {
 public:
  Result<std::unique_ptr<ServiceManager>> OpenManager() override {
    std::string file_path = ServicesFilePath();
    NoteIfMissing(file_path);
    if (posix::IsWriteProtected(file_path)) return Failure{kErrorAccessDenied};
    if (const Result<ServicesFile> lines = ReadServicesFile(file_path); !lines) {
      return Failure{lines.error()};
    }
    return std::unique_ptr<ServiceManager>(
        std::make_unique<FileServiceManager>(std::move(file_path)));
  }
};

}  // namespace

Services& SystemServices() {
  static FileServices services;
  return services;
}

}  // namespace qlx::platform
