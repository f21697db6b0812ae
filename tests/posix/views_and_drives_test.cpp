// Where the stand-ins find what the program names: the registry view of a
// 32-bit program over one or several exports, drive letters mapped to
// directories, and the trace and notes a rehearsal reads.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "platform/posix/drives.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/windows_codes.h"
#include "posix_test_support.h"

namespace qlx::posix_tests {
namespace {

using platform::KeyAccess;
using platform::RegistryData;
using Files = std::vector<std::pair<std::string, std::string>>;  // name, bytes

constexpr char kQuellmark[] = "SOFTWARE\\OV\\Quellmark";

std::string Utf16LeFile(const std::u16string& text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

// A whole-HKLM export of 64-bit Windows: the 64-bit keys and the 32-bit
// program's keys under WOW6432Node, the latter spelt as regedit spells them.
const std::string kServer64 =
    "REGEDIT4\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OV\\Quellmark]\r\n"
    "\"Build\"=\"64-bit view\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\OV\\Quellmark]\r\n"
    "\"Build\"=\"32-bit view\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\Setup]\r\n"
    "\"Build\"=\"shared\"\r\n";

// An export of 32-bit Windows, or of the program's keys alone.
const std::string kServer32 =
    "REGEDIT4\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OV\\Quellmark]\r\n"
    "\"Build\"=\"as named\"\r\n";

// `reg export HKLM\SOFTWARE\WOW6432Node\OV x.reg`: one subtree, version 5,
// UTF-16LE.
const std::string kSubtreeQuellmark = Utf16LeFile(
    u"Windows Registry Editor Version 5.00\r\n\r\n"
    u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\OV]\r\n\r\n"
    u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\OV\\Quellmark]\r\n"
    u"\"Build\"=\"subtree\"\r\n\r\n");
const std::string kSubtreeVantline = Utf16LeFile(
    u"Windows Registry Editor Version 5.00\r\n\r\n"
    u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Orvanta\\Vantline\\Settings]\r\n"
    u"\"InstallPath\"=\"C:\\\\Program Files (x86)\\\\Vantline\"\r\n\r\n");

RegistryData Text(const std::string& text) {
  const std::string bytes = text + std::string(1, '\0');
  return RegistryData{platform::kRegSz, std::vector<unsigned char>(bytes.begin(), bytes.end())};
}

TEST(RegistryViewTest, ProgramKeysAreReadAndUpdatedWhereTheExportsHoldThem) {
  const struct {
    Files files;
    std::optional<std::string> view;  // QLX_REGISTRY_VIEW
    std::string key;
    std::string name;
    std::optional<std::string> found;  // nothing: the key is not there
    std::size_t defining_file = 0;     // the file the value is read from and updated in
  } cases[] = {
      {{{"a.reg", kServer64}}, std::nullopt, kQuellmark, "Build", "32-bit view"},
      {{{"a.reg", kServer64}}, "64", kQuellmark, "Build", "64-bit view"},
      {{{"a.reg", kServer64}}, "sixty-four", kQuellmark, "Build", "32-bit view"},
      {{{"a.reg", kServer64}}, std::nullopt, "SYSTEM\\Setup", "Build", "shared"},
      {{{"a.reg", kServer32}}, std::nullopt, kQuellmark, "Build", "as named"},
      {{{"a.reg", kServer32}}, "32", kQuellmark, "Build", std::nullopt},
      // Several exports, each of one subtree: a key comes from the file
      // that holds it, the first one that does.
      {{{"a.reg", kSubtreeQuellmark}, {"b.reg", kSubtreeVantline}},
       std::nullopt,
       "SOFTWARE\\Orvanta\\Vantline\\Settings",
       "InstallPath",
       "C:\\Program Files (x86)\\Vantline",
       1},
      {{{"missing.reg", ""}, {"b.reg", kSubtreeVantline}, {"a.reg", kSubtreeQuellmark}},
       std::nullopt,
       kQuellmark,
       "Build",
       "subtree",
       2},
      // Each export is guessed on its own.
      {{{"a.reg", kServer32}, {"b.reg", kSubtreeQuellmark}},
       std::nullopt,
       kQuellmark,
       "Build",
       "as named",
       0},
  };
  for (const auto& c : cases) {
    ScratchDirectory directory;
    std::string list;
    for (const auto& [name, bytes] : c.files) {
      if (name != "missing.reg") WriteBytes(directory.path() / name, bytes);
      list += (list.empty() ? "" : ":") + (directory / name);
    }
    ScopedEnvironment files("QLX_REGISTRY_FILE", list);
    ScopedEnvironment view("QLX_REGISTRY_VIEW", c.view);
    const std::string what = c.files.front().first + " view " + c.view.value_or("-") + " " + c.key;
    auto key = platform::SystemRegistry().OpenLocalMachineKey(c.key, KeyAccess::kQueryAndSet);
    ASSERT_EQ(static_cast<bool>(key), c.found.has_value()) << what;
    if (!key) continue;
    const platform::Result<RegistryData> value = (*key)->QueryValue(c.name);
    ASSERT_TRUE(value) << what;
    EXPECT_EQ(value->bytes, Text(*c.found).bytes) << what;

    std::vector<std::string> before;
    for (const auto& file : c.files) before.push_back(ReadBytes(directory.path() / file.first));
    EXPECT_TRUE((*key)->SetValue(c.name, Text("4.3.1"))) << what;
    for (std::size_t i = 0; i < c.files.size(); ++i) {
      const bool changed = ReadBytes(directory.path() / c.files[i].first) != before[i];
      EXPECT_EQ(changed, i == c.defining_file) << what << ": " << c.files[i].first;
    }
    EXPECT_EQ((*key)->QueryValue(c.name)->bytes, Text("4.3.1").bytes) << what;
  }
}

TEST(DriveTest, PathsResolveComponentByComponentAsWindowsResolvesThem) {
  ScratchDirectory directory;
  const fs::path root = fs::canonical(directory.path()) / "c";
  fs::create_directories(root / "Program Files (x86)" / "OV" / "Quellmark" / "config");
  fs::create_directories(directory.path() / "outside");
  WriteBytes(root / "Program Files (x86)" / "OV" / "Quellmark" / "config" / "x.props", "x");
  fs::create_directory_symlink("Program Files (x86)/OV", root / "inside");
  fs::create_directory_symlink(root / "Program Files (x86)", root / "absolute-inside");
  fs::create_directory_symlink("../outside", root / "outside");
  fs::create_directory_symlink("inside/../../../outside", root / "climbing");
  fs::create_directory_symlink(directory.path() / "outside", root / "absolute-outside");
  fs::create_symlink("loop", root / "loop");
  fs::create_directories(root / "dup");
  fs::create_directories(root / "Dup");
  fs::create_directories(root / "latin");
  WriteBytes(root / "latin" / "caf\xE9", "ANSI name");
  ScopedEnvironment drive("QLX_DRIVE_C", (directory.path() / "c").string());
  ScopedEnvironment unmapped("QLX_DRIVE_D", std::nullopt);

  const std::string ov = "Program Files (x86)/OV";
  const struct {
    std::string path;
    std::optional<std::string> resolved;  // below the root; nothing: fails
    uint32_t error = platform::kErrorPathNotFound;
  } cases[] = {
      {"C:\\PROGRAM FILES (X86)\\ov\\QUELLMARK\\Config\\X.PROPS", ov + "/Quellmark/config/x.props"},
      {"c:/program files (x86)/ov/new.txt", ov + "/new.txt"},
      {"C:\\Program Files (x86)\\OV\\", ov},
      {"C:\\..\\..\\program files (x86)\\.\\OV", ov},
      {"C:\\Program Files (x86)\\OV\\Quellmark\\..\\..\\..\\..\\x.txt", "x.txt"},
      {"C:\\Inside\\quellmark", ov + "/Quellmark"},
      {"C:\\absolute-inside\\ov", ov},
      {"C:\\nowhere\\new.txt", std::nullopt},
      {"C:\\Program Files (x86)\\OV\\Quellmark\\config\\x.props\\y", std::nullopt},
      {"C:\\outside\\secret.txt", std::nullopt},
      {"C:\\climbing\\secret.txt", std::nullopt},
      {"C:\\absolute-outside\\secret.txt", std::nullopt},
      {"C:\\loop\\x", std::nullopt},
      {"D:\\x.txt", std::nullopt},
      {"C:\\DUP\\x.txt", std::nullopt},
      {"C:\\latin\\caf\xC3\xA9", "latin/caf\xC3\xA9"},
      {"C:\\" + std::string(256, 'a'), std::string(256, 'a')},
      {"C:\\" + std::string(257, 'a'), std::nullopt, platform::kErrorFilenameExcedRange},
  };
  for (const auto& c : cases) {
    const platform::Result<std::string> resolved = platform::posix::ResolveDrivePath(c.path);
    if (c.resolved) {
      EXPECT_EQ(resolved.value_or("(error " + std::to_string(resolved.error()) + ")"),
                (root / *c.resolved).string())
          << c.path;
    } else {
      EXPECT_EQ(resolved.error(), c.error) << c.path;
    }
  }
  // What a copy of a Windows disk should not hold is told apart.
  const auto duplicate = platform::posix::ExamineDrivePath("C:\\dup\\x").case_duplicates;
  ASSERT_EQ(duplicate.size(), 1u);
  EXPECT_EQ(duplicate[0].names, (std::vector<std::string>{"Dup", "dup"}));
  const auto latin = platform::posix::ExamineDrivePath("C:\\latin\\x").not_utf8;
  ASSERT_EQ(latin.size(), 1u);
  EXPECT_EQ(latin[0].names, std::vector<std::string>{"caf\xE9"});
  // The program's own opens see the same.
  EXPECT_TRUE(platform::OpenFile("C:\\program files (x86)\\ov\\quellmark\\CONFIG\\X.props", "r"));
  EXPECT_EQ(platform::OpenFile("C:\\outside\\secret.txt", "w").error(),
            platform::kErrorPathNotFound);
  EXPECT_FALSE(fs::exists(directory.path() / "outside" / "secret.txt"));
}

TEST(StandInTraceTest, ReadsChangesAndTransitionsAreLinesOfTheTrace) {
  ScratchDirectory directory;
  WriteBytes(directory.path() / "registry.reg", kServer64);
  WriteBytes(directory.path() / "services", "OV Quellmark=running\n");
  WriteBytes(directory.path() / "source.txt", "s");
  ScopedEnvironment registry("QLX_REGISTRY_FILE", directory / "registry.reg");
  ScopedEnvironment view("QLX_REGISTRY_VIEW", std::nullopt);
  ScopedEnvironment services("QLX_SERVICES_FILE", directory / "services");
  ScopedEnvironment drive("QLX_DRIVE_C", directory.path().string());
  ScopedEnvironment trace("QLX_TRACE_FILE", directory / "trace");
  ScopedEnvironment path("PATH", "/usr/bin");

  EXPECT_FALSE(platform::SystemRegistry().OpenLocalMachineKey("SOFTWARE\\None", KeyAccess::kQuery));
  auto key = platform::SystemRegistry().OpenLocalMachineKey(kQuellmark, KeyAccess::kQueryAndSet);
  ASSERT_TRUE(key);
  EXPECT_FALSE((*key)->QueryValue("Tab\tName"));
  EXPECT_TRUE((*key)->SetValue("Build", Text("4.3.1")));
  EXPECT_TRUE(platform::OpenFile("C:\\New.txt", "w"));
  EXPECT_TRUE(platform::OpenFile("c:\\new.TXT", "a+"));
  EXPECT_TRUE(platform::CopyFileReplacing("C:\\source.txt", "C:\\copy.txt"));
  EXPECT_TRUE(platform::RemoveFile("C:\\COPY.TXT"));
  platform::SystemProcesses().RunCommandInterpreter("true >C:\\Out.txt 2>nul");
  auto manager = platform::SystemServices().OpenManager();
  ASSERT_TRUE(manager);
  auto service = (*manager)->OpenNamedService("ov quellmark");
  ASSERT_TRUE(service);
  EXPECT_TRUE((*service)->Stop());
  EXPECT_FALSE((*service)->Stop());

  // Backslashes in a field are doubled, a TAB is written as \t.
  const std::string keys =
      "\tSOFTWARE\\\\OV\\\\Quellmark\tSOFTWARE\\\\WOW6432Node\\\\OV\\\\Quellmark\t";
  const std::string export_file = directory / "registry.reg";
  const std::string root = directory.path().string();
  const std::vector<std::string> lines = {
      "registry.read\t-\tSOFTWARE\\\\None\t-\t-\t-\t-\t2",
      "registry.read\t" + export_file + keys + "Tab\\tName\t-\t-\t2",
      "registry.write\t" + export_file + keys +
          "Build\tREG_SZ\t32-bit view\t4.3.1\t0\t137\t160\t17",
      "file.write\tC:\\\\New.txt\t" + root + "/New.txt\tcreated\t0",
      "file.write\tc:\\\\new.TXT\t" + root + "/New.txt\tchanged\t0",
      "file.write\tC:\\\\copy.txt\t" + root + "/copy.txt\tcopied\t0",
      "file.delete\tC:\\\\COPY.TXT\t" + root + "/copy.txt\t0",
      "file.write\tC:\\\\Out.txt\t" + root + "/Out.txt\tcreated\t0",
      "process\tinterpreter\ttrue >C:\\\\Out.txt 2>nul\t0\t/usr/bin/true",
      "service\tov quellmark\tstop\trunning\tstopped\t0",
      "service\tov quellmark\tstop\tstopped\tstopped\t1062",
  };
  std::string expected;
  for (const std::string& line : lines) expected += line + "\n";
  EXPECT_EQ(ReadBytes(directory.path() / "trace"), expected);
}

TEST(StandInTraceTest, MissingFilesAreNamedOnceWithTheirVariables) {
  ScratchDirectory directory;
  ScopedEnvironment registry("QLX_REGISTRY_FILE", directory / "none.reg");
  ScopedEnvironment services("QLX_SERVICES_FILE", directory / "none");
  ScopedEnvironment drive("QLX_DRIVE_Y", std::nullopt);
  ::testing::internal::CaptureStderr();
  for (int i = 0; i < 2; ++i) {
    EXPECT_FALSE(platform::SystemRegistry().OpenLocalMachineKey(kQuellmark, KeyAccess::kQuery));
    EXPECT_TRUE(platform::SystemServices().OpenManager());
    EXPECT_EQ(platform::OpenFile("y:\\x.txt", "r").error(), platform::kErrorPathNotFound);
  }
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "qlxpatch: no registry export at " + (directory / "none.reg") +
                " (QLX_REGISTRY_FILE names the exports to read)\n"
                "qlxpatch: no services file at " +
                (directory / "none") +
                " (QLX_SERVICES_FILE names it)\n"
                "qlxpatch: no directory for drive Y: (QLX_DRIVE_Y maps it to one)\n");
}

}  // namespace
}  // namespace qlx::posix_tests
