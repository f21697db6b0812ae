#include "platform/posix/text_mode_stream.h"

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace qlx::platform::posix {
namespace {

constexpr char kEndOfFileMark = '\x1A';  // Ctrl-Z
constexpr std::size_t kChunk = 64 * 1024;

class TextModeReader {
 public:
  explicit TextModeReader(UniqueFd fd) : fd_(std::move(fd)) {}

  // Fills `out` with up to `size` translated bytes; 0 at the end, -1 with
  // errno on a read error before anything was produced.
  ssize_t Read(char* out, std::size_t size) {
    std::size_t produced = 0;
    while (produced < size) {
      // A CR needs the byte after it to be told from a line end.
      if (!Available(2) && !Available(1)) {
        if (failed_ && produced == 0) return -1;
        break;
      }
      const char c = raw_[begin_];
      if (c == kEndOfFileMark) {
        ended_ = true;
        begin_ = end_;
        break;
      }
      const bool line_end = c == '\r' && Available(2) && raw_[begin_ + 1] == '\n';
      begin_ += line_end ? 2 : 1;
      out[produced++] = line_end ? '\n' : c;
    }
    return static_cast<ssize_t>(produced);
  }

 private:
  // True when `count` unread bytes are buffered, reading more if need be.
  bool Available(std::size_t count) {
    while (end_ - begin_ < count && !ended_ && !failed_) Refill();
    return end_ - begin_ >= count;
  }

  void Refill() {
    std::memmove(raw_, raw_ + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    const ssize_t count = ::read(fd_.get(), raw_ + end_, sizeof raw_ - end_);
    if (count > 0) {
      end_ += static_cast<std::size_t>(count);
    } else if (count == 0) {
      ended_ = true;
    } else if (errno != EINTR) {
      failed_ = true;
    }
  }

  UniqueFd fd_;
  char raw_[kChunk] = {};
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool ended_ = false;   // end of file or Ctrl-Z seen
  bool failed_ = false;  // a read failed
};

ssize_t ReadCookie(void* cookie, char* out, std::size_t size) {
  return static_cast<TextModeReader*>(cookie)->Read(out, size);
}

int CloseCookie(void* cookie) {
  // Takes the reader back from the stream, which owned it until now.
  std::unique_ptr<TextModeReader> reader(static_cast<TextModeReader*>(cookie));
  return 0;
}

}  // namespace

std::FILE* OpenTextModeReader(UniqueFd fd) {
  auto reader = std::make_unique<TextModeReader>(std::move(fd));
  cookie_io_functions_t functions = {};
  functions.read = ReadCookie;
  functions.close = CloseCookie;
  std::FILE* stream = ::fopencookie(reader.get(), "r", functions);
  if (stream) reader.release();  // the stream owns it from now on
  return stream;
}

}  // namespace qlx::platform::posix
