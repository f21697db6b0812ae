#include "platform/registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/registry_values.h"
#include "win32_test_support.h"

namespace qlx::platform {
namespace {

using win32::UniqueHkey;
using Bytes = std::vector<unsigned char>;

constexpr char kParentKey[] = "Software\\QlxTest";
constexpr char kScratchKey[] = "Software\\QlxTest\\Registry";

Bytes BytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A scratch key below HKEY_LOCAL_MACHINE, made afresh for every test.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kScratchKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, scratch_.put(), nullptr),
              ERROR_SUCCESS);
  }

  void TearDown() override {
    scratch_.reset();
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kScratchKey);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kParentKey);
  }

  void Store(const char* name, DWORD type, const Bytes& bytes) {
    ASSERT_EQ(RegSetValueExA(scratch_.get(), name, 0, type, bytes.data(),
                             static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
  }

  // The value as the registry holds it, read past the layer under test.
  RegistryData Stored(const char* name) {
    unsigned char buffer[256] = {};
    DWORD type = REG_NONE;
    DWORD size = sizeof(buffer);
    EXPECT_EQ(RegQueryValueExA(scratch_.get(), name, nullptr, &type, buffer, &size), ERROR_SUCCESS);
    return RegistryData{type, Bytes(buffer, buffer + size)};
  }

  std::unique_ptr<RegistryKey> OpenScratch() {
    return SystemRegistry().OpenLocalMachineKey(kScratchKey, KeyAccess::kQueryAndSet);
  }

  UniqueHkey scratch_;
};

TEST_F(RegistryTest, MissingKeyIsNotOpened) {
  EXPECT_EQ(SystemRegistry().OpenLocalMachineKey("Software\\QlxTest\\NoSuchKey", KeyAccess::kQuery),
            nullptr);
}

TEST_F(RegistryTest, MissingValueGivesNothing) {
  auto key = OpenScratch();
  ASSERT_NE(key, nullptr);
  EXPECT_FALSE(key->QueryValue("NoSuchValue").has_value());
}

TEST_F(RegistryTest, StringValueGivesItsStoredBytesWithTheZero) {
  Store("InstallPath", REG_SZ, BytesOf(std::string("C:\\Program Files\\Host", 22)));
  auto key = OpenScratch();
  ASSERT_NE(key, nullptr);
  const auto value = key->QueryValue("InstallPath");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->type, kRegSz);
  EXPECT_EQ(value->bytes, BytesOf(std::string("C:\\Program Files\\Host", 22)));
}

TEST_F(RegistryTest, StringStoredWithoutZeroIsGivenWhole) {
  // The system counts in a zero that directly follows the data it is given,
  // so the stored text must be followed by something else.
  const std::string followed = "abcd";
  ASSERT_EQ(RegSetValueExA(scratch_.get(), "Bare", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(followed.data()), 3),
            ERROR_SUCCESS);
  const auto value = OpenScratch()->QueryValue("Bare");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->bytes, BytesOf("abc"));
}

TEST_F(RegistryTest, KeyPathsIgnoreLetterCase) {
  Store("Version", REG_SZ, BytesOf(std::string("4.2.0", 6)));
  auto key = SystemRegistry().OpenLocalMachineKey("SOFTWARE\\QLXTEST\\registry", KeyAccess::kQuery);
  ASSERT_NE(key, nullptr);
  EXPECT_TRUE(key->QueryValue("Version").has_value());
}

TEST_F(RegistryTest, EmptyValuesArePresentWithTheirFewBytes) {
  Store("NoData", REG_SZ, Bytes());
  Store("EmptyText", REG_SZ, Bytes{0});
  auto key = OpenScratch();
  const auto no_data = key->QueryValue("NoData");
  const auto empty_text = key->QueryValue("EmptyText");
  ASSERT_TRUE(no_data.has_value());
  ASSERT_TRUE(empty_text.has_value());
  EXPECT_TRUE(no_data->bytes.empty());
  EXPECT_EQ(empty_text->bytes, Bytes{0});
}

TEST_F(RegistryTest, BinaryAndNumberValuesKeepTypeAndBytes) {
  Store("Raw", REG_BINARY, Bytes{0x00, 0x01, 0xFE, 0xFF});
  Store("Number", REG_DWORD, Bytes{0x2A, 0x00, 0x00, 0x00});
  auto key = OpenScratch();
  const auto raw = key->QueryValue("Raw");
  const auto number = key->QueryValue("Number");
  ASSERT_TRUE(raw.has_value());
  ASSERT_TRUE(number.has_value());
  EXPECT_EQ(raw->type, kRegBinary);
  EXPECT_EQ(raw->bytes, (Bytes{0x00, 0x01, 0xFE, 0xFF}));
  EXPECT_EQ(number->type, kRegDword);
  EXPECT_EQ(number->bytes, (Bytes{0x2A, 0x00, 0x00, 0x00}));
}

TEST_F(RegistryTest, MultiStringGivesAllItsStrings) {
  const Bytes stored = BytesOf(std::string("one\0two\0\0", 9));
  Store("List", REG_MULTI_SZ, stored);
  const auto value = OpenScratch()->QueryValue("List");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->type, kRegMultiSz);
  EXPECT_EQ(value->bytes, stored);
}

TEST_F(RegistryTest, SetValueStoresTypeAndBytes) {
  Store("Build", REG_EXPAND_SZ, BytesOf(std::string("4.2.0.1234", 11)));
  auto key = OpenScratch();
  ASSERT_TRUE(key->SetValue("Build", RegistryData{kRegExpandSz, BytesOf(std::string("4.3.1", 6))}));
  const RegistryData stored = Stored("Build");
  EXPECT_EQ(stored.type, static_cast<uint32_t>(REG_EXPAND_SZ));
  EXPECT_EQ(stored.bytes, BytesOf(std::string("4.3.1", 6)));
}

TEST_F(RegistryTest, TheCoreReadsAndUpdatesThroughTheRegistry) {
  Store("Version", REG_SZ, BytesOf(std::string("4.2.0.1234", 11)));
  EXPECT_EQ(ReadRegistryValue(RegistryRoot::kLocalMachine, kScratchKey, "Version"), "4.2.0.1234");
  EXPECT_TRUE(UpdateRegistryValue(RegistryRoot::kLocalMachine, kScratchKey, "Version", "4.3.1"));
  EXPECT_EQ(Stored("Version").bytes, BytesOf(std::string("4.3.1", 6)));
  EXPECT_EQ(ReadRegistryValue(RegistryRoot::kLocalMachine, kScratchKey, "Version"), "4.3.1");
  EXPECT_EQ(ReadRegistryValue(RegistryRoot::kLocalMachine, kScratchKey, "Missing"), " ");
  EXPECT_FALSE(UpdateRegistryValue(RegistryRoot::kLocalMachine, kScratchKey, "Missing", "4.3.1"));
}

}  // namespace
}  // namespace qlx::platform
