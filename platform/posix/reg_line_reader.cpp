#include "platform/posix/reg_line_reader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace qlx::platform::posix {
namespace {

constexpr std::size_t kReadSize = 1 << 20;
// Room for a read behind the longest line that is read whole.
constexpr std::size_t kMaxBufferSize = kReadSize + kMaxRegLineBytes + 8;
// A small file needs no more; a large one grows the buffer read by read.
constexpr std::size_t kFirstBufferSize = 64 * 1024;
constexpr std::size_t kNotFound = std::string_view::npos;

}  // namespace

RegLineReader::RegLineReader(int fd, std::size_t unit_size, Sink sink)
    : fd_(fd), unit_(unit_size), sink_(std::move(sink)), buffer_(kFirstBufferSize) {}

// Moves the unread bytes to the front and reads more behind them; false at
// the end of the file or on an error. A buffer that the last read filled
// doubles, up to its largest size, which always leaves room for a read here
// (a longer line is never kept whole). Offsets into the buffer change,
// offsets relative to begin_ do not.
bool RegLineReader::Refill() {
  if (end_of_file_ || error_ != 0) return false;
  const bool filled = end_ == buffer_.size();
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    buffer_offset_ += begin_;
    end_ -= begin_;
    begin_ = 0;
  }
  if (filled) buffer_.resize(std::min(2 * buffer_.size(), kMaxBufferSize));
  for (;;) {
    const ssize_t count = ::pread(fd_, buffer_.data() + end_, buffer_.size() - end_,
                                  static_cast<off_t>(bytes_read()));
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) {
      error_ = errno;
      return false;
    }
    if (count == 0) {
      end_of_file_ = true;
      return false;
    }
    const auto size = static_cast<std::size_t>(count);
    if (sink_) error_ = sink_(buffer_.data() + end_, size);
    if (error_ != 0) return false;
    end_ += size;
    return true;
  }
}

bool RegLineReader::IsUnit(std::size_t at, char c) const {
  if (at + unit_ > end_ || buffer_[at] != c) return false;
  return unit_ == 1 || (((buffer_offset_ + at) & 1) == 0 && buffer_[at + 1] == 0);
}

bool RegLineReader::IsBlankUnit(std::size_t at) const {
  return IsUnit(at, ' ') || IsUnit(at, '\t');
}

// The next character c at or after `from`; in UTF-16 only a whole character
// at an even offset counts.
std::size_t RegLineReader::FindUnit(char c, std::size_t from) const {
  for (std::size_t i = from; i < end_;) {
    const void* hit = std::memchr(buffer_.data() + i, c, end_ - i);
    if (!hit) return kNotFound;
    const auto at = static_cast<std::size_t>(static_cast<const char*>(hit) - buffer_.data());
    if (IsUnit(at, c)) return at;
    if (unit_ == 2 && at + 1 == end_ && ((buffer_offset_ + at) & 1) == 0) return kNotFound;
    i = at + 1;
  }
  return kNotFound;
}

std::size_t RegLineReader::FindLastNewline() const {
  for (std::size_t limit = end_; limit > begin_;) {
    const void* hit = ::memrchr(buffer_.data() + begin_, '\n', limit - begin_);
    if (!hit) return kNotFound;
    const auto at = static_cast<std::size_t>(static_cast<const char*>(hit) - buffer_.data());
    if (IsUnit(at, '\n')) return at;
    limit = at;
  }
  return kNotFound;
}

std::size_t RegLineReader::ResumePoint() const {
  if (unit_ == 2 && ((buffer_offset_ + end_) & 1) != 0) return end_ - 1;
  return end_;
}

// The start of the line holding `at` when only blanks precede it there.
std::size_t RegLineReader::LineStartBefore(std::size_t at) const {
  for (std::size_t i = at; i > begin_;) {
    i -= unit_;
    if (IsUnit(i, '\n')) return i + unit_;
    if (!IsBlankUnit(i)) return kNotFound;
  }
  return begin_;
}

RegLine RegLineReader::TakeLine(std::size_t newline) {
  std::size_t content_end = newline;
  if (newline >= begin_ + unit_ && IsUnit(newline - unit_, '\r')) content_end -= unit_;
  RegLine line;
  line.offset = buffer_offset_ + begin_;
  line.overlong = content_end - begin_ > kMaxRegLineBytes;
  const std::size_t kept = line.overlong ? kMaxRegLineBytes : content_end - begin_;
  line.bytes = std::string_view(buffer_.data() + begin_, kept);
  line.line_end = std::string_view(buffer_.data() + content_end, newline + unit_ - content_end);
  begin_ = newline + unit_;
  return line;
}

// The unfinished line at begin_: the last line of the file, or the start of
// one too long to read whole, whose rest the next call skips.
RegLine RegLineReader::TakeRest(bool overlong) {
  RegLine line;
  line.offset = buffer_offset_ + begin_;
  line.overlong = overlong;
  if (overlong) {
    line.bytes = std::string_view(buffer_.data() + begin_, kMaxRegLineBytes);
    skip_rest_of_line_ = true;
  } else {
    line.bytes = std::string_view(buffer_.data() + begin_, end_ - begin_);
    begin_ = end_;
  }
  return line;
}

bool RegLineReader::SkipRestOfLine() {
  skip_rest_of_line_ = false;
  for (;;) {
    const std::size_t newline = FindUnit('\n', begin_);
    if (newline != kNotFound) {
      begin_ = newline + unit_;
      return true;
    }
    begin_ = ResumePoint();
    if (!Refill()) {
      begin_ = end_;
      return false;
    }
  }
}

std::optional<RegLine> RegLineReader::NextLine() {
  if (skip_rest_of_line_ && !SkipRestOfLine()) return std::nullopt;
  std::size_t searched = 0;  // bytes after begin_ that hold no line end
  for (;;) {
    const std::size_t newline = FindUnit('\n', begin_ + searched);
    if (newline != kNotFound) return TakeLine(newline);
    if (end_ - begin_ > kMaxRegLineBytes + unit_) return TakeRest(/*overlong=*/true);
    searched = ResumePoint() - begin_;
    if (!Refill()) {
      if (error_ != 0 || begin_ == end_) return std::nullopt;
      return TakeRest(/*overlong=*/false);
    }
  }
}

std::optional<RegLine> RegLineReader::NextSectionLine() {
  if (skip_rest_of_line_ && !SkipRestOfLine()) return std::nullopt;
  std::size_t searched = 0;  // bytes after begin_ that start no key line
  for (;;) {
    for (std::size_t bracket = FindUnit('[', begin_ + searched); bracket != kNotFound;
         bracket = FindUnit('[', bracket + unit_)) {
      const std::size_t start = LineStartBefore(bracket);
      if (start != kNotFound && bracket - start < kMaxRegLineBytes) {
        begin_ = start;
        return NextLine();
      }
    }
    // Every line that ends in the buffer is no key line.
    const std::size_t newline = FindLastNewline();
    if (newline != kNotFound) begin_ = newline + unit_;
    if (end_ - begin_ > kMaxRegLineBytes + unit_) {
      // Its start held no "[", so it is no key line either.
      if (!SkipRestOfLine()) return std::nullopt;
      searched = 0;
      continue;
    }
    searched = ResumePoint() - begin_;
    if (!Refill()) return std::nullopt;
  }
}

}  // namespace qlx::platform::posix
