#include "platform/win32/private_directory.h"

#include <sddl.h>

#include <optional>
#include <vector>

namespace qlx::platform::win32 {
namespace {

// Names already taken (by an earlier run, or planted) are skipped this often.
constexpr int kNameAttempts = 100;

// The current user's SID in its string form ("S-1-5-...").
std::optional<std::string> CurrentUserSid() {
  HANDLE raw_token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw_token)) return std::nullopt;
  const UniqueKernelHandle token(raw_token);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  if (size == 0 || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) {
    return std::nullopt;
  }
  const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
  char* text = nullptr;
  if (!ConvertSidToStringSidA(user->User.Sid, &text)) return std::nullopt;
  const UniqueLocalMemory owned(text);
  return std::string(text);
}

// Full control for SYSTEM, the Administrators and the user, inherited by
// everything inside a directory; the "P" keeps the parent's entries out.
std::string AccessList(const std::string& user_sid, bool inherited) {
  const std::string rights = inherited ? "(A;OICI;FA;;;" : "(A;;FA;;;";
  return "D:P" + rights + "SY)" + rights + "BA)" + rights + user_sid + ")";
}

void RemoveTree(const std::string& directory);

// Deletes one entry of a directory being removed. A link (a junction or a
// symbolic link) is removed itself, never what it leads to.
void RemoveEntry(const std::string& path, DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    SetFileAttributesA(path.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    DeleteFileA(path.c_str());
  } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    RemoveDirectoryA(path.c_str());
  } else {
    RemoveTree(path);
  }
}

// Deletes what the directory holds, then the directory, once the search
// through it is closed.
void RemoveTree(const std::string& directory) {
  {
    WIN32_FIND_DATAA entry{};
    const std::string pattern = directory + "\\*";
    const UniqueDirectorySearch search(FindFirstFileA(pattern.c_str(), &entry));
    if (search) {
      do {
        const std::string name = entry.cFileName;
        if (name != "." && name != "..")
          RemoveEntry(directory + "\\" + name, entry.dwFileAttributes);
      } while (FindNextFileA(search.get(), &entry));
    }
  }
  RemoveDirectoryA(directory.c_str());
}

// Opens the directory just made, refusing a link, and holds it.
UniqueKernelHandle HoldDirectory(const std::string& path) {
  HANDLE raw = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  UniqueKernelHandle held(raw == INVALID_HANDLE_VALUE ? nullptr : raw);
  BY_HANDLE_FILE_INFORMATION info{};
  if (!held || !GetFileInformationByHandle(held.get(), &info)) return UniqueKernelHandle();
  const bool plain_directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                               !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
  return plain_directory ? std::move(held) : UniqueKernelHandle();
}

}  // namespace

UniqueLocalMemory PrivateSecurityDescriptor(bool for_directory, uint32_t* error) {
  const std::optional<std::string> user_sid = CurrentUserSid();
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!user_sid ||
      !ConvertStringSecurityDescriptorToSecurityDescriptorA(
          AccessList(*user_sid, for_directory).c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
    *error = GetLastError();
    return UniqueLocalMemory();
  }
  return UniqueLocalMemory(descriptor);
}

ScopedPrivateDirectory::ScopedPrivateDirectory(const std::string& parent) {
  const UniqueLocalMemory descriptor = PrivateSecurityDescriptor(true, &error_);
  if (!descriptor) return;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  const std::string stem = parent + "qlxpatch-" + std::to_string(GetCurrentProcessId()) + "-";
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::string candidate = stem + std::to_string(attempt);
    if (!CreateDirectoryA(candidate.c_str(), &attributes)) {
      error_ = GetLastError();
      if (error_ == ERROR_ALREADY_EXISTS) continue;
      return;
    }
    path_ = candidate;
    held_ = HoldDirectory(candidate);
    error_ = held_ ? 0 : ERROR_DIRECTORY;
    return;
  }
}

ScopedPrivateDirectory::~ScopedPrivateDirectory() {
  if (path_.empty()) return;
  held_.close();
  RemoveTree(path_);
}

}  // namespace qlx::platform::win32
