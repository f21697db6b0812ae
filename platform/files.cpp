#include "platform/files.h"

#include <cstring>
#include <vector>

#include "platform/platform.h"

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

  bool Append(const std::string& text) override { return AppendWhole(file_.get(), text); }

 private:
  UniqueFile file_;
};

class StdioFiles : public Files {
 public:
  Result<std::unique_ptr<File>> Open(const std::string& path, const char* mode) override {
    Result<UniqueFile> file = OpenFile(path, mode);
    if (!file) return Failure{file.error()};
    return std::unique_ptr<File>(std::make_unique<StdioFile>(std::move(*file)));
  }
  Result<> Remove(const std::string& path) override { return RemoveFile(path); }
  Result<> CopyReplacing(const std::string& from, const std::string& to) override {
    return CopyFileReplacing(from, to);
  }
  Result<> CreateNew(const std::string& path) override { return CreateNewFile(path); }
  Result<> RemoveAtReboot(const std::string& path) override { return RemoveFileAtReboot(path); }
  Result<> Empty(const std::string& path) override { return EmptyFile(path); }
  bool IsDirectory(const std::string& path) override { return IsDirectoryPath(path); }
  Result<> ProbeWrite(const std::string& path) override { return ProbeFileWrite(path); }
};

}  // namespace

Files& SystemFiles() {
  static StdioFiles files;
  return files;
}

Result<std::string> ReadWholeText(const std::string& path) {
  Result<std::unique_ptr<File>> file = Current().files->Open(path, "r");
  if (!file) return Failure{file.error()};
  std::string text;
  std::string piece;
  while ((*file)->ReadLine(kLineBufferSize, &piece)) text += piece;
  return text;
}

}  // namespace qlx::platform
