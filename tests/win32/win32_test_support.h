#pragma once

// Small helpers shared by the tests of the Windows platform layer.

#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "platform/unique_handle.h"
#include "platform/win32/windows_api.h"

namespace qlx::test {

// A directory search from FindFirstFileA, which marks failure with
// INVALID_HANDLE_VALUE rather than null.
struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle search) { FindClose(search); }
};
using UniqueFindHandle = platform::UniqueHandle<FindHandleTraits>;

// The directory of the running test program, without a trailing backslash.
inline std::string ExecutableDirectory() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  const std::string full(path, length);
  return full.substr(0, full.find_last_of('\\'));
}

// The system's temporary directory, with its trailing backslash.
inline std::string TemporaryDirectory() {
  char path[MAX_PATH] = {};
  const DWORD length = GetTempPathA(MAX_PATH - 1, path);
  return std::string(path, length);
}

inline std::string ReadBinaryFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBinaryFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

inline bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Whether the tests run under Wine rather than Windows.
inline bool RunningUnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// Sets (or, given nothing, removes) an environment variable for the scope.
class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(const char* name, const std::optional<std::string>& value)
      : name_(name), previous_(Get(name)) {
    Set(value);
  }
  ~ScopedEnvironmentVariable() { Set(previous_); }
  ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
  ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

  // The variable's value, or nothing when it is not set.
  static std::optional<std::string> Get(const char* name) {
    char value[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableA(name, value, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::nullopt;
    return std::string(value, length);
  }

 private:
  void Set(const std::optional<std::string>& value) const {
    SetEnvironmentVariableA(name_, value ? value->c_str() : nullptr);
  }

  const char* name_;
  std::optional<std::string> previous_;
};

// Makes the directory current for the scope.
class ScopedCurrentDirectory {
 public:
  explicit ScopedCurrentDirectory(const std::string& directory) {
    char path[MAX_PATH] = {};
    const DWORD length = GetCurrentDirectoryA(MAX_PATH, path);
    previous_.assign(path, length);
    changed_ = SetCurrentDirectoryA(directory.c_str()) != 0;
  }
  ~ScopedCurrentDirectory() { SetCurrentDirectoryA(previous_.c_str()); }
  ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
  ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;

  bool Changed() const { return changed_; }

 private:
  std::string previous_;
  bool changed_ = false;
};

// A fresh, empty directory below the temporary directory, removed with its
// files when the object goes out of scope.
class ScratchDirectory {
 public:
  explicit ScratchDirectory(const std::string& name) : path_(TemporaryDirectory() + name) {
    RemoveAll();
    CreateDirectoryA(path_.c_str(), nullptr);
  }
  ~ScratchDirectory() { RemoveAll(); }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "\\" + name; }

 private:
  void RemoveAll() {
    WIN32_FIND_DATAA entry{};
    const std::string pattern = path_ + "\\*";
    const UniqueFindHandle search(FindFirstFileA(pattern.c_str(), &entry));
    if (search) {
      do {
        DeleteFileA(File(entry.cFileName).c_str());
      } while (FindNextFileA(search.get(), &entry));
    }
    RemoveDirectoryA(path_.c_str());
  }

  std::string path_;
};

}  // namespace qlx::test
