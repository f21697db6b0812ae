#include "platform/processes.h"
#include "platform/security.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32/handles.h"
#include "platform/win32/private_directory.h"
#include "win32_test_support.h"

namespace qlx::platform {
namespace {

// The text without trailing line breaks and blanks.
std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

TEST(RunHiddenTest, GivesTheExitCodeOfTheChildOrItsInterpreter) {
  for (const uint32_t code : {0u, 3u}) {
    const Result<uint32_t> outcome =
        SystemProcesses().RunHidden("cmd /c exit " + std::to_string(code), nullptr);
    EXPECT_TRUE(outcome) << code;
    EXPECT_EQ(outcome.value_or(~0u), code);
  }
  const Result<uint32_t> unknown_tool = SystemProcesses().RunHidden(
      "cmd /c \"qlx_no_such_tool -r -f \"C:\\x y\\t.xml\"\" > null", nullptr);
  EXPECT_TRUE(unknown_tool);
  EXPECT_NE(unknown_tool.value_or(0u), 0u);
}

TEST(RunHiddenTest, MissingProgramIsAFailureWithFileNotFound) {
  const Result<uint32_t> outcome = SystemProcesses().RunHidden("qlx_no_such_program -r", nullptr);
  EXPECT_FALSE(outcome);
  EXPECT_EQ(outcome.error(), 2u);
}

// Each child works in a fresh directory of its own inside the temporary
// directory, gone once the child has ended.
TEST(RunHiddenTest, ChildWorksInAPrivateDirectoryOfTheTemporaryDirectory) {
  const test::ScratchDirectory scratch("qlx runner test");
  const std::string output = scratch.File("cwd.txt");
  const Result<uint32_t> outcome =
      SystemProcesses().RunHidden("cmd /c cd > \"" + output + "\"", nullptr);
  EXPECT_TRUE(outcome);
  EXPECT_EQ(outcome.value_or(~0u), 0u);
  const std::string directory = Trimmed(test::ReadBinaryFile(output));
  EXPECT_EQ(directory.rfind(test::TemporaryDirectory() + "qlxpatch-", 0), 0u) << directory;
  EXPECT_FALSE(test::FileExists(directory)) << directory;
}

// The string form of each SID the access list admits, and its rights.
std::vector<std::pair<std::string, ACCESS_MASK>> AdmittedSids(PACL list) {
  std::vector<std::pair<std::string, ACCESS_MASK>> admitted;
  for (DWORD index = 0; list && index < list->AceCount; ++index) {
    void* entry = nullptr;
    if (!GetAce(list, index, &entry)) continue;
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
    if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    char* text = nullptr;
    PSID sid = const_cast<DWORD*>(&allowed->SidStart);
    if (!ConvertSidToStringSidA(sid, &text)) continue;
    const win32::UniqueLocalMemory owned(text);
    admitted.emplace_back(text, allowed->Mask);
  }
  return admitted;
}

// Wine keeps no access list on a file; it makes one up from the Unix
// permissions, so only Windows can show the one that was set.
void ExpectOnlyTheUserAdministratorsAndSystem(const std::string& path) {
  if (test::RunningUnderWine()) return;
  PACL list = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, &list, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  const win32::UniqueLocalMemory owned(descriptor);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PROTECTED) << "nothing inherited from the parent";
  const auto admitted = AdmittedSids(list);
  ASSERT_EQ(admitted.size(), 3u);
  EXPECT_EQ(admitted[0].first, "S-1-5-18");      // SYSTEM
  EXPECT_EQ(admitted[1].first, "S-1-5-32-544");  // Administrators
  for (const auto& [sid, rights] : admitted) EXPECT_EQ(rights, FILE_ALL_ACCESS) << sid;
}

TEST(PrivateDirectoryTest, AdmitsOnlyTheUserAdministratorsAndSystemAndGoesWithItsContents) {
  std::string path;
  {
    const win32::ScopedPrivateDirectory directory(test::TemporaryDirectory());
    ASSERT_EQ(directory.error(), 0u);
    path = directory.path();
    ExpectOnlyTheUserAdministratorsAndSystem(path);

    // Held open, it cannot be renamed and replaced by another (Wine does
    // not enforce sharing on a directory's rename).
    if (!test::RunningUnderWine()) {
      EXPECT_FALSE(MoveFileA(path.c_str(), (path + "-moved").c_str()));
    }
    ASSERT_TRUE(CreateDirectoryA((path + "\\sub").c_str(), nullptr));
    test::WriteBinaryFile(path + "\\sub\\deep.txt", "x");
    test::WriteBinaryFile(path + "\\null", "added");
    SetFileAttributesA((path + "\\null").c_str(), FILE_ATTRIBUTE_READONLY);
  }
  EXPECT_FALSE(test::FileExists(path)) << path;
}

// Wine makes its lists up (above): it shows Everyone's rights alone, not the
// entries Windows passes over (inherit-only, CREATOR OWNER) nor other names.
TEST(OtherWritersTest, NameEveryoneButTheTrustedWhoMayCreateInTheFolder) {
  EXPECT_EQ(ProgramDirectory().value_or(""), test::ExecutableDirectory());
  EXPECT_EQ(OtherWritersOf(test::TemporaryDirectory() + "qlx no such folder").error(), 2u);
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;OICIIO;FA;;;BU)(A;;FA;;;CO)(A;;FRFX;;;WD)", {}},
      {"D:P(A;;FA;;;SY)(A;;0x6;;;WD)", {"Everyone"}},
      {nullptr, {"Everyone"}},  // no list at all: everyone may do anything
  };
  for (const auto& [access_list, writers] : cases) {
    const win32::ScopedPrivateDirectory folder(test::TemporaryDirectory());
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    PACL list = nullptr;
    ASSERT_TRUE(!access_list || ConvertStringSecurityDescriptorToSecurityDescriptorA(
                                    access_list, SDDL_REVISION_1, &descriptor, nullptr));
    const win32::UniqueLocalMemory owned(descriptor);
    if (descriptor) GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted);
    ASSERT_EQ(SetNamedSecurityInfoA(const_cast<char*>(folder.path().c_str()), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, list, nullptr),
              0u);
    EXPECT_EQ(OtherWritersOf(folder.path()).value_or({"failed"}), writers) << access_list;
  }
}

// Runs the interpreter tests inside a scratch directory made current.
class CommandInterpreterTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(current_.Changed()); }

  test::ScratchDirectory scratch_{"qlx interpreter test"};
  test::ScopedCurrentDirectory current_{scratch_.Path()};
};

// The interpreter COMSPEC names by an absolute path, else the system's cmd,
// in a private directory: a relative redirection lands there, not here.
TEST_F(CommandInterpreterTest, RunsTheLineInAPrivateDirectory) {
  const std::optional<std::string> comspecs[] = {test::ScopedEnvironmentVariable::Get("COMSPEC"),
                                                 std::nullopt, std::string("cmd.exe"),
                                                 std::string("C:\\qlx\\no such\\interpreter.exe")};
  for (const std::optional<std::string>& comspec : comspecs) {
    const test::ScopedEnvironmentVariable variable("COMSPEC", comspec);
    DeleteFileA(scratch_.File("out.txt").c_str());
    SystemProcesses().RunCommandInterpreter("cd > \"" + scratch_.File("out.txt") +
                                            "\"& echo x> rel.txt");
    const std::string directory = Trimmed(test::ReadBinaryFile(scratch_.File("out.txt")));
    EXPECT_EQ(directory.rfind(test::TemporaryDirectory() + "qlxpatch-", 0), 0u)
        << comspec.value_or("COMSPEC unset") << ": " << directory;
    EXPECT_FALSE(test::FileExists(scratch_.File("rel.txt")));
  }
}

TEST_F(CommandInterpreterTest, RedirectsIntoAQuotedPathWithBlanks) {
  SystemProcesses().RunCommandInterpreter("hostname > \"" + scratch_.File("pass1.txt") + "\"");
  EXPECT_FALSE(Trimmed(test::ReadBinaryFile(scratch_.File("pass1.txt"))).empty());

  // A tool that cannot be found still leaves the redirection's file, empty.
  SystemProcesses().RunCommandInterpreter("qlx_no_such_tool -e host > \"" +
                                          scratch_.File("pass2.txt") + "\"");
  EXPECT_TRUE(test::FileExists(scratch_.File("pass2.txt")));
  EXPECT_EQ(test::ReadBinaryFile(scratch_.File("pass2.txt")), "");
}

// PATH's entries in order (quotes removed, empty and relative ones and the
// current directory passed over), in each PATHEXT's extensions in order
// (cmd's own when unset); a folder is no program.
TEST_F(CommandInterpreterTest, WhereCmdFindsTheFirstEntryThenTheFirstExtension) {
  const win32::ScopedPrivateDirectory tools(test::TemporaryDirectory());
  const std::string a = tools.path() + "\\a", b = tools.path() + "\\b";
  for (const std::string& folder : {a, b, b + "\\tool.exe"})
    CreateDirectoryA(folder.c_str(), nullptr);
  for (const std::string& file :
       {a + "\\tool.cmd", a + "\\tool.bat", b + "\\tool.com", scratch_.File("tool.exe")}) {
    test::WriteBinaryFile(file, "");
  }
  const struct {
    std::optional<std::string> path, pathext;
    std::string found;  // or the error code
  } cases[] = {
      {a + ";" + b, std::nullopt, a + "\\tool.BAT"},
      {b + "\\;" + a, std::nullopt, b + "\\tool.COM"},
      {";\"" + b + "\";;" + a, ".EXE;.CMD", a + "\\tool.CMD"},
      {".;" + a, ".EXE", "2"},
  };
  for (const auto& c : cases) {
    const test::ScopedEnvironmentVariable path("PATH", c.path), pathext("PATHEXT", c.pathext);
    const Result<std::string> found = SystemProcesses().WhereCmdFinds("tool");
    EXPECT_EQ(found.value_or(std::to_string(found.error())), c.found) << c.path.value_or("unset");
  }
}

}  // namespace
}  // namespace qlx::platform
