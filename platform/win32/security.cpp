// The account the program runs under, and who else may write where it runs:
// the process token, and a folder's access list as Windows keeps it.
#include "platform/security.h"

#include <algorithm>
#include <vector>

#include "platform/win32/handles.h"
// After <windows.h>, which they need.
#include <aclapi.h>
#include <sddl.h>

namespace qlx::platform {
namespace {

using win32::UniqueKernelHandle;
using win32::UniqueLocalMemory;

// The rights that let an account put a program into a folder, or give itself
// the right to: create a file or a folder in it, the generic rights that
// include those, and changing its access list or owner.
constexpr ACCESS_MASK kPlantingRights =
    FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | GENERIC_WRITE | GENERIC_ALL | WRITE_DAC | WRITE_OWNER;
static_assert((FILE_WRITE_DATA | FILE_APPEND_DATA) == (FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY));

UniqueKernelHandle ProcessToken() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return UniqueKernelHandle();
  return UniqueKernelHandle(token);
}

// The token's user, in a buffer that holds the SID it points to.
Result<std::vector<unsigned char>> UserOf(HANDLE token) {
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> user(size);
  if (size == 0 || !GetTokenInformation(token, TokenUser, user.data(), size, &size)) {
    return Failure{GetLastError()};
  }
  return user;
}

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) { return IsWellKnownSid(sid, type) != FALSE; }

// NT SERVICE\TrustedInstaller, the system's installer service, which owns
// and alone may write the system's own folders; it runs as SYSTEM. A
// service's SID is made from its name, so this one is the same everywhere.
bool IsTrustedInstaller(PSID sid) {
  char* text = nullptr;
  if (!ConvertSidToStringSidA(sid, &text)) return false;
  const UniqueLocalMemory owned(text);
  return lstrcmpiA(text, "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464") == 0;
}

// The accounts whose right to write there is no risk: the Administrators,
// SYSTEM, the program's own account, the installer service. CREATOR OWNER
// and CREATOR GROUP are in no token: an entry for them grants nothing on the
// folder itself, only, once inherited, to whoever creates something in it,
// on what they created, and to create it they need an entry of their own.
bool IsTrusted(PSID sid, PSID current_user) {
  return IsWellKnown(sid, WinBuiltinAdministratorsSid) || IsWellKnown(sid, WinLocalSystemSid) ||
         IsWellKnown(sid, WinCreatorOwnerSid) || IsWellKnown(sid, WinCreatorGroupSid) ||
         EqualSid(sid, current_user) || IsTrustedInstaller(sid);
}

// "DOMAIN\name", a name alone where it has no domain ("Everyone"), or the
// SID's string form when no name can be found for it.
std::string AccountName(PSID sid) {
  char name[256] = {};
  char domain[256] = {};
  DWORD name_size = sizeof name;
  DWORD domain_size = sizeof domain;
  SID_NAME_USE use{};
  if (LookupAccountSidA(nullptr, sid, name, &name_size, domain, &domain_size, &use)) {
    return domain[0] != '\0' ? std::string(domain) + "\\" + name : std::string(name);
  }
  char* text = nullptr;
  if (!ConvertSidToStringSidA(sid, &text)) return "(unknown account)";
  const UniqueLocalMemory owned(text);
  return text;
}

// The SID an entry admits to planting rights on the folder itself, or null.
// Inherit-only entries apply only to what the folder holds; a callback entry
// is an allow entry with a condition, which may hold, and counts.
PSID PlantingSidOf(const void* entry) {
  const auto* header = static_cast<const ACE_HEADER*>(entry);
  if (header->AceFlags & INHERIT_ONLY_ACE) return nullptr;
  if (header->AceType != ACCESS_ALLOWED_ACE_TYPE &&
      header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE) {
    return nullptr;
  }
  const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
  if (!(allowed->Mask & kPlantingRights)) return nullptr;
  return const_cast<DWORD*>(&allowed->SidStart);
}

// A folder by itself: "C:" alone would name the drive's current directory.
std::string FolderPath(const std::string& directory) {
  if (directory.size() == 2 && directory[1] == ':') return directory + "\\";
  return directory;
}

// Deny entries are not weighed against the allow entries: they may name a
// group the account is not in, so an account is rather named once too often.
std::vector<std::string> UntrustedPlanters(const ACL& list, PSID current_user) {
  std::vector<std::string> names;
  for (DWORD index = 0; index < list.AceCount; ++index) {
    void* entry = nullptr;
    if (!GetAce(const_cast<ACL*>(&list), index, &entry)) continue;
    const PSID sid = PlantingSidOf(entry);
    if (sid == nullptr || IsTrusted(sid, current_user)) continue;
    const std::string name = AccountName(sid);
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  }
  return names;
}

// What a folder without an access list at all admits to everything.
Result<std::vector<std::string>> Everyone() {
  unsigned char everyone[SECURITY_MAX_SID_SIZE] = {};
  DWORD size = sizeof everyone;
  if (!CreateWellKnownSid(WinWorldSid, nullptr, everyone, &size)) return Failure{GetLastError()};
  return std::vector<std::string>{AccountName(everyone)};
}

}  // namespace

Result<bool> IsElevated() {
  const UniqueKernelHandle token = ProcessToken();
  if (!token) return Failure{GetLastError()};
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  if (!GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size)) {
    return Failure{GetLastError()};
  }
  return elevation.TokenIsElevated != 0;
}

Result<std::vector<std::string>> OtherWritersOf(const std::string& directory) {
  const UniqueKernelHandle token = ProcessToken();
  if (!token) return Failure{GetLastError()};
  const Result<std::vector<unsigned char>> user = UserOf(token.get());
  if (!user) return Failure{user.error()};
  PACL list = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD status = GetNamedSecurityInfoA(FolderPath(directory).c_str(), SE_FILE_OBJECT,
                                             DACL_SECURITY_INFORMATION, nullptr, nullptr, &list,
                                             nullptr, &descriptor);
  if (status != ERROR_SUCCESS) return Failure{status};
  const UniqueLocalMemory owned(descriptor);
  if (list == nullptr) return Everyone();
  return UntrustedPlanters(*list, reinterpret_cast<const TOKEN_USER*>(user->data())->User.Sid);
}

Result<std::string> ProgramDirectory() {
  std::vector<char> path(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return Failure{GetLastError()};
    if (length < path.size()) {
      const std::string program(path.data(), length);
      return program.substr(0, program.find_last_of('\\'));
    }
    path.resize(path.size() * 2);  // cut short: a long path
  }
}

}  // namespace qlx::platform
