#include "platform/files.h"

#include <cstring>
#include <vector>

namespace qlx::platform {
namespace {

class StdioFile : public File {
 public:
  explicit StdioFile(UniqueFile file) : file_(std::move(file)) {}

  bool ReadLine(int buffer_size, std::string* line) override {
    std::vector<char> buffer(static_cast<std::size_t>(buffer_size));
    if (!std::fgets(buffer.data(), buffer_size, file_.get())) return false;
    line->assign(buffer.data(), std::strlen(buffer.data()));
    return true;
  }

  bool Write(const std::string& text) override {
    return std::fputs(text.c_str(), file_.get()) >= 0;
  }

  bool Flush() override { return std::fflush(file_.get()) == 0; }

 private:
  UniqueFile file_;
};

class StdioFiles : public Files {
 public:
  std::unique_ptr<File> Open(const std::string& path, const char* mode, uint32_t* error) override {
    UniqueFile file = OpenFile(path, mode, error);
    if (!file) return nullptr;
    return std::make_unique<StdioFile>(std::move(file));
  }
  bool Remove(const std::string& path) override { return RemoveFile(path); }
  uint32_t CopyReplacing(const std::string& from, const std::string& to) override {
    return CopyFileReplacing(from, to);
  }
};

}  // namespace

Files& SystemFiles() {
  static StdioFiles files;
  return files;
}

}  // namespace qlx::platform
