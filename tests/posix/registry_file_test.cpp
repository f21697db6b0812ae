// HKEY_LOCAL_MACHINE kept in a registry export file.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "posix_test_support.h"

namespace qlx::posix_tests {
namespace {

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
    "\"Quoted\"=\"say \\\"hi\\\"\"\r\n";

RegistryData Data(uint32_t type, const std::string& bytes) {
  return RegistryData{type, Bytes(bytes.begin(), bytes.end())};
}

// A REG_SZ as a narrow program stores it: the text and its zero byte.
RegistryData Text(const std::string& text) {
  return Data(platform::kRegSz, text + std::string(1, '\0'));
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  return text.replace(text.find(from), from.size(), to);
}

// What regedit writes for a version 5 export: UTF-16LE with a byte order mark.
std::string Utf16LeFile(const std::u16string& text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

void ExpectValue(RegistryKey& key, const std::string& name, const RegistryData& expected) {
  const std::optional<RegistryData> value = key.QueryValue(name);
  ASSERT_TRUE(value) << name;
  EXPECT_EQ(value->type, expected.type) << name;
  EXPECT_EQ(value->bytes, expected.bytes) << name;
}

class RegistryFileTest : public ::testing::Test {
 protected:
  std::unique_ptr<RegistryKey> Open(const std::string& path) {
    return platform::SystemRegistry().OpenLocalMachineKey(path, platform::KeyAccess::kQueryAndSet);
  }
  std::string FileBytes() const { return ReadBytes(file_); }

  ScratchDirectory directory_;
  std::string file_ = directory_ / "registry.reg";
  ScopedEnvironment variable_{"QLX_REGISTRY_FILE", file_};
};

TEST_F(RegistryFileTest, Regedit4ValuesKeepTheirTypesAndBytes) {
  WriteBytes(file_, kRegedit4File);
  std::unique_ptr<RegistryKey> key = Open(kQuellmark);
  ASSERT_TRUE(key);
  ExpectValue(*key, "Version", Text("4.2.0.1234"));
  ExpectValue(*key, "ExtensionBase", Data(platform::kRegExpandSz, std::string("C:\\QLX\0", 7)));
  ExpectValue(*key, "Flags", Data(platform::kRegDword, std::string("\x2a\0\0\0", 4)));
  ExpectValue(*key, "Blob", Data(platform::kRegBinary, "\x01\x02\x03\x04\x05"));
  ExpectValue(*key, "Paths", Data(platform::kRegMultiSz, std::string("a\0b\0\0", 5)));
  ExpectValue(*key, "Big", Data(platform::kRegQword, std::string("\x01\0\0\0\0\0\0\0", 8)));
  EXPECT_FALSE(key->QueryValue("Missing"));

  std::unique_ptr<RegistryKey> settings = Open("SOFTWARE\\Orvanta\\Vantline\\Settings");
  ASSERT_TRUE(settings);
  ExpectValue(*settings, "InstallPath", Text("C:\\Program Files\\Vantline"));
  ExpectValue(*settings, "", Text("default text"));
  std::unique_ptr<RegistryKey> uninstall =
      Open("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\OV Quellmark_is1");
  ASSERT_TRUE(uninstall);
  ExpectValue(*uninstall, "Quoted", Text("say \"hi\""));
}

// Each update rewrites only the line of its value (a new value goes at the
// end of its key), in the file's own spelling of the name, and reads back.
TEST_F(RegistryFileTest, UpdateRewritesOnlyItsLine) {
  const struct {
    const char* key_path;
    const char* name;
    RegistryData data;
    const char* line;
    const char* updated_line;
  } cases[] = {
      {kQuellmark, "Version", Text("4.3.1"), "\"Version\"=\"4.2.0.1234\"", "\"Version\"=\"4.3.1\""},
      {"software\\ov\\QUELLMARK", "build", Text("4.3.1"), "\"Build\"=\"4.2.0.1234\"",
       "\"Build\"=\"4.3.1\""},
      {kQuellmark, "ExtensionBase", Data(platform::kRegExpandSz, std::string("D:\\Q\0", 5)),
       "hex(2):43,3a,5c,51,4c,58,00", "hex(2):44,3a,5c,51,00"},
      {kQuellmark, "Added", Data(platform::kRegDword, std::string("\x01\x02\0\0", 4)),
       "\"Big\"=hex(b):01,00,00,00,00,00,00,00\r\n",
       "\"Big\"=hex(b):01,00,00,00,00,00,00,00\r\n\"Added\"=dword:00000201\r\n"},
  };
  for (const auto& c : cases) {
    WriteBytes(file_, kRegedit4File);
    std::unique_ptr<RegistryKey> key = Open(c.key_path);
    ASSERT_TRUE(key) << c.key_path;

    ASSERT_TRUE(key->SetValue(c.name, c.data)) << c.name;

    ExpectValue(*key, c.name, c.data);
    EXPECT_EQ(FileBytes(), Replaced(kRegedit4File, c.line, c.updated_line)) << c.name;
  }
}

TEST_F(RegistryFileTest, NoKeyUnlessTheFileHoldsIt) {
  EXPECT_FALSE(Open(kQuellmark)) << "missing file";

  fs::create_directory(file_);
  EXPECT_FALSE(Open(kQuellmark)) << "a directory in place of the file";
  fs::remove(file_);

  WriteBytes(file_, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OV\\Quellmark]\r\n\"Version\"=\"1\"\r\n");
  EXPECT_FALSE(Open(kQuellmark)) << "no header";

  WriteBytes(file_, kRegedit4File);
  EXPECT_FALSE(Open("SOFTWARE\\OV\\Other"));
  EXPECT_FALSE(Open("SOFTWARE\\OV\\Quell"));
  EXPECT_TRUE(Open("SOFTWARE\\OV")) << "a key exists when keys below it do";
}

TEST_F(RegistryFileTest, UnwritableDirectoryRefusesTheUpdateAndKeepsTheFile) {
  const fs::path locked = directory_.path() / "locked";
  fs::create_directory(locked);
  const std::string locked_file = (locked / "registry.reg").string();
  WriteBytes(locked_file, kRegedit4File);
  ScopedEnvironment variable("QLX_REGISTRY_FILE", locked_file);
  std::unique_ptr<RegistryKey> key = Open(kQuellmark);
  ASSERT_TRUE(key);
  ReadOnlyDirectory read_only(locked);
  if (!read_only.Refuses()) GTEST_SKIP() << "cannot make a directory read-only here";

  EXPECT_FALSE(key->SetValue("Version", Text("4.3.1")));

  EXPECT_EQ(ReadBytes(locked_file), kRegedit4File);
  EXPECT_EQ(std::distance(fs::directory_iterator(locked), fs::directory_iterator()), 1);
}

TEST_F(RegistryFileTest, UpdateKeepsChangesMadeSinceTheKeyWasOpened) {
  WriteBytes(file_, kRegedit4File);
  std::unique_ptr<RegistryKey> key = Open(kQuellmark);
  ASSERT_TRUE(key);
  const std::string edited = Replaced(kRegedit4File, "\"Build\"=\"4.2.0.1234\"", "\"Build\"=\"9\"");
  WriteBytes(file_, edited);

  ASSERT_TRUE(key->SetValue("Version", Text("4.3.1")));

  EXPECT_EQ(FileBytes(), Replaced(edited, "\"Version\"=\"4.2.0.1234\"", "\"Version\"=\"4.3.1\""));
}

TEST_F(RegistryFileTest, LongBinaryValuesWrapAndReadBackWhole) {
  WriteBytes(file_, kRegedit4File);
  std::unique_ptr<RegistryKey> key = Open(kQuellmark);
  ASSERT_TRUE(key);
  const RegistryData blob = Data(platform::kRegBinary, std::string(100, '\x5a'));

  ASSERT_TRUE(key->SetValue("Blob", blob));

  ExpectValue(*key, "Blob", blob);
  for (const std::string& line : {std::string("\"Blob\"=hex:5a,"), std::string(",\\\r\n  5a,")}) {
    EXPECT_NE(FileBytes().find(line), std::string::npos) << line;
  }
}

TEST_F(RegistryFileTest, LinesItCannotReadAreKeptAsTheyAre) {
  const std::string text =
      "REGEDIT4\n"
      "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\OV\\Quellmark]\n"
      "\"Version\"=\"deleted key\"\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OV\\Quellmark]\n"
      "\"Broken\"=hex:zz\n"
      "\"Gone\"=-\n"
      "\"Version\"=\"4.2\" ; trailing comment\n"
      "garbage line";
  WriteBytes(file_, text);
  std::unique_ptr<RegistryKey> key = Open(kQuellmark);
  ASSERT_TRUE(key);
  EXPECT_FALSE(key->QueryValue("Broken"));
  EXPECT_FALSE(key->QueryValue("Gone"));
  ExpectValue(*key, "Version", Text("4.2"));

  ASSERT_TRUE(key->SetValue("Version", Text("4.3.1")));

  EXPECT_EQ(FileBytes(), Replaced(text, "\"4.2\" ; trailing comment", "\"4.3.1\""));
}

// A version 5 export holds the hex forms of string types as UTF-16LE; the
// program sees and writes them in the ANSI code page (Windows-1252).
const std::u16string kVersion5Text =
    u"Windows Registry Editor Version 5.00\r\n"
    u"\r\n"
    u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\OV\\Quellmark]\r\n"
    u"\"ExtensionBase\"=hex(2):43,00,3a,00,5c,00,e9,00,ac,20,00,00\r\n"
    u"\"Paths\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
    u"\"Version\"=\"4.2.0.1234\"\r\n"
    u"\"Owner\"=\"Caf\u00e9\"\r\n";

std::u16string Replaced(std::u16string text, const std::u16string& from, const std::u16string& to) {
  return text.replace(text.find(from), from.size(), to);
}

TEST_F(RegistryFileTest, Version5WideStringsAreAnsiToTheProgramAndUtf16InTheFile) {
  WriteBytes(file_, Utf16LeFile(kVersion5Text));
  std::unique_ptr<RegistryKey> key = Open(kQuellmark);
  ASSERT_TRUE(key);
  ExpectValue(*key, "ExtensionBase",
              Data(platform::kRegExpandSz, std::string("C:\\\xE9\x80\0", 6)));
  ExpectValue(*key, "Paths", Data(platform::kRegMultiSz, std::string("a\0b\0\0", 5)));
  ExpectValue(*key, "Owner", Text("Caf\xE9"));

  ASSERT_TRUE(key->SetValue("ExtensionBase",
                            Data(platform::kRegExpandSz, std::string("D:\\\xFC\x80\0", 6))));
  ASSERT_TRUE(key->SetValue("Version", Text("4.3.1")));

  std::u16string expected = Replaced(kVersion5Text, u"hex(2):43,00,3a,00,5c,00,e9,00,ac,20,00,00",
                                     u"hex(2):44,00,3a,00,5c,00,fc,00,ac,20,00,00");
  expected = Replaced(expected, u"\"4.2.0.1234\"", u"\"4.3.1\"");
  EXPECT_EQ(FileBytes(), Utf16LeFile(expected));
  ExpectValue(*key, "Version", Text("4.3.1"));
}

TEST_F(RegistryFileTest, Version5AlsoReadsAsPlainText) {
  WriteBytes(file_,
             "Windows Registry Editor Version 5.00\n\n"
             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OV\\Quellmark]\n"
             "\"ExtensionBase\"=hex(2):51,00,00,00\n");
  std::unique_ptr<RegistryKey> key = Open(kQuellmark);
  ASSERT_TRUE(key);
  ExpectValue(*key, "ExtensionBase", Data(platform::kRegExpandSz, std::string("Q\0", 2)));

  ASSERT_TRUE(key->SetValue("Version", Text("4.3.1")));

  EXPECT_EQ(FileBytes(),
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OV\\Quellmark]\n"
            "\"ExtensionBase\"=hex(2):51,00,00,00\n"
            "\"Version\"=\"4.3.1\"\n");
}

}  // namespace
}  // namespace qlx::posix_tests
