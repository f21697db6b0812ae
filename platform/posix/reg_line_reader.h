#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

namespace qlx::platform::posix {

// No line of a registry export is longer than this; one that is, is malformed
// and only its start is looked at.
constexpr std::size_t kMaxRegLineBytes = 1 << 20;

// One physical line of the file, as stored.
struct RegLine {
  std::uint64_t offset = 0;   // of its first byte in the file
  std::string_view bytes;     // without its line end; at most kMaxRegLineBytes
  std::string_view line_end;  // CR LF, LF, or nothing for a last line without one
  bool overlong = false;      // longer than kMaxRegLineBytes: `bytes` is only its start

  // Where the next line starts; meaningless for an overlong line.
  std::uint64_t end_offset() const { return offset + bytes.size() + line_end.size(); }
};

// Reads a file from its first byte to its last, one line at a time, through a
// buffer of bounded size however large the file or its lines are. Characters
// are one byte (ANSI) or two (UTF-16LE, where a line ends in the 16-bit LF at
// an even offset). A line handed out stays valid until the next call.
class RegLineReader {
 public:
  // Receives every byte read, in file order, before it is looked at; returns
  // 0 or the errno that ends the reading.
  using Sink = std::function<int(const char* data, std::size_t size)>;

  RegLineReader(int fd, std::size_t unit_size, Sink sink = nullptr);

  // The next line, or nothing at the end of the file or after an error.
  std::optional<RegLine> NextLine();
  // Skips to the next line whose first character other than a blank is "["
  // (a key line), without looking at the lines in between.
  std::optional<RegLine> NextSectionLine();

  // 0, or the errno of the read or the sink that ended the reading early.
  int error() const { return error_; }
  // How many bytes have been read so far.
  std::uint64_t bytes_read() const { return buffer_offset_ + end_; }

 private:
  bool Refill();
  bool SkipRestOfLine();
  bool IsUnit(std::size_t at, char c) const;
  bool IsBlankUnit(std::size_t at) const;
  std::size_t FindUnit(char c, std::size_t from) const;
  std::size_t FindLastNewline() const;
  std::size_t LineStartBefore(std::size_t at) const;
  RegLine TakeLine(std::size_t newline);
  RegLine TakeRest(bool overlong);
  // Where a search stopped short of the end, allowing for a character whose
  // second byte has not been read yet.
  std::size_t ResumePoint() const;

  int fd_;
  std::size_t unit_;
  Sink sink_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;  // the start of the next line
  std::size_t end_ = 0;    // the end of the bytes read
  std::uint64_t buffer_offset_ = 0;
  bool end_of_file_ = false;
  bool skip_rest_of_line_ = false;
  int error_ = 0;
};

}  // namespace qlx::platform::posix
