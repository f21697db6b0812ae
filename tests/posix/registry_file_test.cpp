// HKEY_LOCAL_MACHINE kept in a registry export file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/posix_io.h"
#include "platform/registry.h"
#include "platform/windows_codes.h"
#include "posix_test_support.h"

namespace qlx::posix_tests {
namespace {

using platform::KeyAccess;
using platform::RegistryData;
using platform::RegistryKey;
using Bytes = std::vector<unsigned char>;

constexpr char kQuellmark[] = "SOFTWARE\\OV\\Quellmark";

const std::string kRegedit4File =
    "REGEDIT4\r\n"
    "\r\n"
    "; exported for the patch\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvanta\\Vantline\\Settings]\r\n"
    "\"InstallPath\"=\"C:\\\\Program Files\\\\Vantline\"\r\n"
    "@=\"default text\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OV\\Quellmark]\r\n"
    "\"ExtensionBase\"=hex(2):43,3a,5c,51,4c,58,00\r\n"
    "\"Build\"=\"4.2.0.1234\"\r\n"
    "\"Version\"=\"4.2.0.1234\"\r\n"
    "\"Flags\"=dword:0000002a\r\n"
    "\"Blob\"=hex:01,02,03,\\\r\n"
    "  04,05\r\n"
    "\"Paths\"=hex(7):61,00,62,00,00\r\n"
    "\"Big\"=hex(b):01,00,00,00,00,00,00,00\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\OV "
    "Quellmark_is1]\r\n"
    "\"DisplayVersion\"=\"4.2.0.1234\"\r\n"
    "\"Quoted\"=\"say \\\"hi\\\"\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OV\\Quellmark]\r\n"
    "\"Build\"=\"4.2.0.5678\"\r\n";

// A version 5 export holds the hex forms of string types as UTF-16LE; the
// program sees and writes them in the ANSI code page (Windows-1252).
const std::u16string kVersion5Text =
    u"Windows Registry Editor Version 5.00\r\n"
    u"\r\n"
    u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\OV\\Quellmark]\r\n"
    u"\"ExtensionBase\"=hex(2):43,00,3a,00,5c,00,e9,00,ac,20,00,00\r\n"
    u"\"Paths\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
    u"\"Version\"=\"4.2.0.1234\"\r\n"
    u"\"Owner\"=\"Caf\u00e9\"\r\n"
    u"\r\n"
    u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Earth\\Command]\r\n"
    u"@=hex(2):00,00\r\n";

// The same text as regedit writes it: UTF-16LE, and in a file with a byte
// order mark before it.
std::string Utf16Le(const std::u16string& text) {
  std::string bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}
std::string Utf16LeFile(const std::u16string& text) { return "\xFF\xFE" + Utf16Le(text); }

RegistryData Data(uint32_t type, const std::string& bytes) {
  return RegistryData{type, Bytes(bytes.begin(), bytes.end())};
}

// A REG_SZ as a narrow program stores it: the text and its zero byte.
RegistryData Text(const std::string& text) {
  return Data(platform::kRegSz, text + std::string(1, '\0'));
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const std::string::size_type at = text.find(from);
  return at == std::string::npos ? "(not found: " + from + ")" : text.replace(at, from.size(), to);
}

// Writes over the file's first bytes without truncating or replacing it.
void OverwriteInPlace(const fs::path& path, const std::string& bytes) {
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void ExpectValue(RegistryKey& key, const std::string& name, const RegistryData& expected) {
  const platform::Result<RegistryData> value = key.QueryValue(name);
  ASSERT_TRUE(value) << name;
  EXPECT_EQ(value->type, expected.type) << name;
  EXPECT_EQ(value->bytes, expected.bytes) << name;
}

class RegistryFileTest : public ::testing::Test {
 protected:
  std::unique_ptr<RegistryKey> Open(const std::string& path,
                                    KeyAccess access = KeyAccess::kQueryAndSet) {
    auto key = platform::SystemRegistry().OpenLocalMachineKey(path, access);
    return key ? std::move(*key) : nullptr;
  }
  std::string FileBytes() const { return ReadBytes(file_); }

  ScratchDirectory directory_;
  std::string file_ = directory_ / "registry.reg";
  ScopedEnvironment variable_{"QLX_REGISTRY_FILE", file_};
};

TEST_F(RegistryFileTest, ValuesReadAsANarrowProgramSeesThem) {
  const std::string version5 = Utf16LeFile(kVersion5Text);
  const struct {
    const std::string& file;
    const char* key_path;
    const char* name;
    RegistryData expected;
  } cases[] = {
      {kRegedit4File, kQuellmark, "Version", Text("4.2.0.1234")},
      {kRegedit4File, "software\\ov\\QUELLMARK", "build", Text("4.2.0.5678")},
      {kRegedit4File, kQuellmark, "ExtensionBase",
       Data(platform::kRegExpandSz, std::string("C:\\QLX\0", 7))},
      {kRegedit4File, kQuellmark, "Flags", Data(platform::kRegDword, std::string("\x2a\0\0\0", 4))},
      {kRegedit4File, kQuellmark, "Blob", Data(platform::kRegBinary, "\x01\x02\x03\x04\x05")},
      {kRegedit4File, kQuellmark, "Paths", Data(platform::kRegMultiSz, std::string("a\0b\0\0", 5))},
      {kRegedit4File, kQuellmark, "Big",
       Data(platform::kRegQword, std::string("\x01\0\0\0\0\0\0\0", 8))},
      {kRegedit4File, "SOFTWARE\\Orvanta\\Vantline\\Settings", "InstallPath",
       Text("C:\\Program Files\\Vantline")},
      {kRegedit4File, "SOFTWARE\\Orvanta\\Vantline\\Settings", "", Text("default text")},
      {kRegedit4File, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\OV Quellmark_is1",
       "Quoted", Text("say \"hi\"")},
      {version5, kQuellmark, "ExtensionBase",
       Data(platform::kRegExpandSz, std::string("C:\\\xE9\x80\0", 6))},
      {version5, kQuellmark, "Paths", Data(platform::kRegMultiSz, std::string("a\0b\0\0", 5))},
      {version5, kQuellmark, "Owner", Text("Caf\xE9")},
  };
  for (const auto& c : cases) {
    WriteBytes(file_, c.file);
    std::unique_ptr<RegistryKey> key = Open(c.key_path, KeyAccess::kQuery);
    ASSERT_TRUE(key) << c.key_path;
    ExpectValue(*key, c.name, c.expected);
    EXPECT_FALSE(key->QueryValue("Missing"));
  }
}

// An update replaces exactly the lines of the value's last definition, in
// the file's encoding and line ends, and leaves every other byte as it was.
TEST_F(RegistryFileTest, UpdateReplacesOnlyTheValuesLines) {
  const std::string version5 = Utf16LeFile(kVersion5Text);
  const std::string lf_only =
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OV\\Quellmark]\n"
      "\"Paths\"=hex(7):61,00,00,00,00,00\n"
      "\"Version\"=\"4.2\"";
  const struct {
    const std::string& file;
    const char* key_path;
    const char* name;
    RegistryData data;
    std::string lines;
    std::string updated_lines;
  } cases[] = {
      {kRegedit4File, kQuellmark, "Version", Text("4.3.1"), "\"Version\"=\"4.2.0.1234\"",
       "\"Version\"=\"4.3.1\""},
      {kRegedit4File, "software\\ov\\QUELLMARK", "build", Text("4.3.1"), "\"Build\"=\"4.2.0.5678\"",
       "\"Build\"=\"4.3.1\""},
      {kRegedit4File, kQuellmark, "ExtensionBase",
       Data(platform::kRegExpandSz, std::string("D:\\Q\0", 5)),
       "\"ExtensionBase\"=hex(2):43,3a,5c,51,4c,58,00", "\"ExtensionBase\"=hex(2):44,3a,5c,51,00"},
      {kRegedit4File, kQuellmark, "Blob", Data(platform::kRegBinary, "\x0a"),
       "\"Blob\"=hex:01,02,03,\\\r\n  04,05\r\n", "\"Blob\"=hex:0a\r\n"},
      {version5, kQuellmark, "Version", Text("4.3.1"), Utf16Le(u"\"Version\"=\"4.2.0.1234\""),
       Utf16Le(u"\"Version\"=\"4.3.1\"")},
      {version5, kQuellmark, "ExtensionBase",
       Data(platform::kRegExpandSz, std::string("D:\\\xFC\x80\0", 6)),
       Utf16Le(u"hex(2):43,00,3a,00,5c,00,e9,00,ac,20,00,00"),
       Utf16Le(u"hex(2):44,00,3a,00,5c,00,fc,00,ac,20,00,00")},
      // As regedit wraps it in an export.
      {version5, "SOFTWARE\\Classes\\Earth\\Command", "",
       Data(platform::kRegExpandSz,
            std::string("%ProgramFiles%\\Google\\Google Earth Plus\\GoogleEarth.exe\0", 56)),
       Utf16Le(u"@=hex(2):00,00\r\n"),
       Utf16Le(
           u"@=hex(2):25,00,50,00,72,00,6f,00,67,00,72,00,61,00,6d,00,46,00,69,00,6c,00,65,\\\r\n"
           u"  00,73,00,25,00,5c,00,47,00,6f,00,6f,00,67,00,6c,00,65,00,5c,00,47,00,6f,00,\\\r\n"
           u"  6f,00,67,00,6c,00,65,00,20,00,45,00,61,00,72,00,74,00,68,00,20,00,50,00,6c,\\\r\n"
           u"  00,75,00,73,00,5c,00,47,00,6f,00,6f,00,67,00,6c,00,65,00,45,00,61,00,72,00,\\\r\n"
           u"  74,00,68,00,2e,00,65,00,78,00,65,00,00,00\r\n")},
      {lf_only, kQuellmark, "Paths", Data(platform::kRegMultiSz, std::string("b\0\0", 3)),
       "hex(7):61,00,00,00,00,00\n", "hex(7):62,00,00,00,00,00\n"},
      {lf_only, kQuellmark, "Version", Text("4.3.1"), "\"4.2\"", "\"4.3.1\""},
  };
  for (const auto& c : cases) {
    WriteBytes(file_, c.file);
    std::unique_ptr<RegistryKey> key = Open(c.key_path);
    ASSERT_TRUE(key) << c.key_path;

    ASSERT_TRUE(key->SetValue(c.name, c.data)) << c.name;

    ExpectValue(*key, c.name, c.data);
    EXPECT_EQ(FileBytes(), Replaced(c.file, c.lines, c.updated_lines)) << c.name;
  }
}

TEST_F(RegistryFileTest, NoKeyUnlessTheFileHoldsIt) {
  EXPECT_FALSE(Open(kQuellmark)) << "missing file";

  fs::create_directory(file_);
  EXPECT_FALSE(Open(kQuellmark)) << "a directory in place of the file";
  fs::remove(file_);

  WriteBytes(file_, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OV\\Quellmark]\r\n\"Version\"=\"1\"\r\n");
  EXPECT_FALSE(Open(kQuellmark)) << "no header";

  WriteBytes(file_, "\xEF\xBB\xBF" + kRegedit4File);
  EXPECT_FALSE(Open(kQuellmark)) << "UTF-8, which regedit does not write";

  WriteBytes(file_, kRegedit4File);
  EXPECT_FALSE(Open("SOFTWARE\\OV\\Other"));
  EXPECT_FALSE(Open("SOFTWARE\\OV\\Quell"));
  EXPECT_TRUE(Open("SOFTWARE\\OV")) << "a key exists when keys below it do";

  std::unique_ptr<RegistryKey> key = Open(kQuellmark);
  ASSERT_TRUE(key);
  EXPECT_FALSE(key->SetValue("Added", Text("4.3.1"))) << "an update creates no value";
  EXPECT_EQ(FileBytes(), kRegedit4File);
}

// A line that cannot be read makes only the key or value it defines unknown:
// reads of it fail, updates of it are refused and leave the file as it is,
// and the rest of the file reads and updates as before.
TEST_F(RegistryFileTest, MalformedLineHidesOnlyWhatItDefines) {
  const auto ansi_file = [](const std::string& broken) {
    return "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\OV\\Quellmark]\r\n" + broken +
           "\"Version\"=\"4.2.0.1234\"\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\OV\\After]\r\n";
  };
  const std::string reopened = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OV\\Quellmark]\r\n";
  const struct {
    const char* what;
    std::string file;
    const char* missing_key;
    const char* missing_value;
  } cases[] = {
      {"key line without its closing bracket",
       ansi_file("[HKEY_LOCAL_MACHINE\\SOFTWARE\\OV\\Broken\r\n\"Lost\"=\"1\"\r\n" + reopened),
       "SOFTWARE\\OV\\Broken", nullptr},
      {"10 MB line", ansi_file("\"Huge\"=\"" + std::string(10 << 20, 'x') + "\"\r\n"), nullptr,
       "Huge"},
      {"NUL byte", ansi_file(std::string("\"Nul\"=\"a\0b\"\r\n", 13)), nullptr, "Nul"},
      {"hex list cut short by a key line", ansi_file("\"Cut\"=hex:01,02,\\\r\n" + reopened),
       nullptr, "Cut"},
      {"hex list cut short by the end of the file", ansi_file("") + reopened + "\"Cut\"=hex:01,\\",
       nullptr, "Cut"},
      {"UTF-16 with an odd byte count",
       Utf16LeFile(u"Windows Registry Editor Version 5.00\r\n\r\n"
                   u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\OV\\Quellmark]\r\n"
                   u"\"Version\"=\"4.2.0.1234\"\r\n\"Odd\"=\"1\"") +
           "\x01",
       nullptr, "Odd"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteBytes(file_, c.file);
    if (c.missing_key) {
      EXPECT_FALSE(Open(c.missing_key, KeyAccess::kQuery));
    }
    std::unique_ptr<RegistryKey> key = Open(kQuellmark);
    ASSERT_TRUE(key);
    if (c.missing_value) {
      EXPECT_FALSE(key->QueryValue(c.missing_value));
      EXPECT_FALSE(key->SetValue(c.missing_value, Text("4.3.1")));
      EXPECT_TRUE(FileBytes() == c.file);
    }

    ASSERT_TRUE(key->SetValue("Version", Text("4.3.1")));

    ExpectValue(*key, "Version", Text("4.3.1"));
    const bool utf16 = c.file.rfind("\xFF\xFE", 0) == 0;
    const auto encoded = [utf16](const std::string& text) {
      return utf16 ? Utf16Le(std::u16string(text.begin(), text.end())) : text;
    };
    EXPECT_TRUE(FileBytes() == Replaced(c.file, encoded("\"Version\"=\"4.2.0.1234\""),
                                        encoded("\"Version\"=\"4.3.1\"")));
  }
}

// Nothing is remembered between two requests that could hide a change:
// here the file changes in place, keeping its size and its modification
// time, after the key has read the value.
TEST_F(RegistryFileTest, SeesAChangeMadeInPlaceBetweenTwoRequests) {
  WriteBytes(file_, kRegedit4File);
  std::unique_ptr<RegistryKey> key = Open(kQuellmark);
  ASSERT_TRUE(key);
  ExpectValue(*key, "Version", Text("4.2.0.1234"));
  const std::string edited =
      Replaced(kRegedit4File, "\"Version\"=\"4.2.0.1234\"\r\n\"Flags\"=dword:0000002a",
               "\"Version\"=\"4.2\"\r\n\"Flags\"=dword:0000002a       ");
  ASSERT_EQ(edited.size(), kRegedit4File.size());
  const fs::file_time_type modified = fs::last_write_time(file_);
  OverwriteInPlace(file_, edited);
  fs::last_write_time(file_, modified);

  std::unique_ptr<RegistryKey> other = Open(kQuellmark);
  ASSERT_TRUE(other);
  ExpectValue(*other, "Version", Text("4.2"));
  ASSERT_TRUE(key->SetValue("Version", Text("4.3.1")));

  EXPECT_EQ(FileBytes(), Replaced(edited, "\"Version\"=\"4.2\"", "\"Version\"=\"4.3.1\""));
}

// Refused updates leave the file byte for byte as it was and no file beside
// it: a file nobody may write (the counterpart of a key the account may only
// read, refused also to root), another program holding the lock beside the
// export for longer than a change waits (a sharing violation), and a
// directory where no file can be created.
TEST_F(RegistryFileTest, RefusedUpdatesLeaveTheFileAsItWas) {
  WriteBytes(file_, kRegedit4File);
  std::unique_ptr<RegistryKey> opened_before = Open(kQuellmark);
  ASSERT_TRUE(opened_before);
  const fs::perms read_only = fs::perms::owner_read | fs::perms::group_read;
  fs::permissions(file_, read_only);

  EXPECT_FALSE(Open(kQuellmark));
  std::unique_ptr<RegistryKey> reader = Open(kQuellmark, KeyAccess::kQuery);
  ASSERT_TRUE(reader);
  ExpectValue(*reader, "Version", Text("4.2.0.1234"));
  EXPECT_FALSE(opened_before->SetValue("Version", Text("4.3.1")));

  EXPECT_EQ(FileBytes(), kRegedit4File);
  EXPECT_EQ(fs::status(file_).permissions(), read_only);

  fs::permissions(file_, fs::perms::owner_write, fs::perm_options::add);
  {
    const std::string lock_path = file_ + ".lock";
    std::ofstream(lock_path).close();
    const platform::posix::UniqueFd other_program(::open(lock_path.c_str(), O_RDWR | O_CLOEXEC));
    ASSERT_EQ(::flock(other_program.get(), LOCK_EX), 0);
    EXPECT_EQ(opened_before->SetValue("Version", Text("4.3.1")).error(),
              platform::kErrorSharingViolation);
    fs::remove(lock_path);
  }
  EXPECT_EQ(FileBytes(), kRegedit4File);

  ReadOnlyDirectory read_only_directory(directory_.path());
  ASSERT_TRUE(read_only_directory.Refuses());
  EXPECT_FALSE(opened_before->SetValue("Version", Text("4.3.1")));
  EXPECT_EQ(FileBytes(), kRegedit4File);
  EXPECT_EQ(std::distance(fs::directory_iterator(directory_.path()), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace qlx::posix_tests
