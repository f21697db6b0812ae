#include "platform/registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32/handles.h"
#include "platform/windows_codes.h"
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
    auto key = SystemRegistry().OpenLocalMachineKey(kScratchKey, KeyAccess::kQueryAndSet);
    return key ? std::move(*key) : nullptr;
  }

  UniqueHkey scratch_;
};

TEST_F(RegistryTest, MissingKeyIsNotOpened) {
  EXPECT_EQ(SystemRegistry()
                .OpenLocalMachineKey("Software\\QlxTest\\NoSuchKey", KeyAccess::kQuery)
                .error(),
            kErrorFileNotFound);
}

TEST_F(RegistryTest, MissingValueGivesNothing) {
  auto key = OpenScratch();
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->QueryValue("NoSuchValue").error(), kErrorFileNotFound);
}

// Every value comes back with the type and exactly the bytes stored.
TEST_F(RegistryTest, ValuesGiveTheirTypeAndStoredBytes) {
  const struct {
    const char* name;
    DWORD type;
    std::string stored;
    std::string::size_type size;  // of the stored bytes handed to the registry
  } cases[] = {
      {"InstallPath", REG_SZ, std::string("C:\\Program Files\\Host", 22), 22},
      // The system counts in a zero that directly follows the data it is
      // given, so this text is followed by something else.
      {"Bare", REG_SZ, "abcd", 3},
      {"NoData", REG_SZ, "", 0},
      {"EmptyText", REG_SZ, std::string(1, '\0'), 1},
      {"Raw", REG_BINARY, std::string("\x00\x01\xFE\xFF", 4), 4},
      {"Number", REG_DWORD, std::string("\x2A\0\0\0", 4), 4},
      {"List", REG_MULTI_SZ, std::string("one\0two\0\0", 9), 9},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(
        RegSetValueExA(scratch_.get(), c.name, 0, c.type,
                       reinterpret_cast<const BYTE*>(c.stored.data()), static_cast<DWORD>(c.size)),
        ERROR_SUCCESS);
  }
  auto key = OpenScratch();
  ASSERT_NE(key, nullptr);
  for (const auto& c : cases) {
    const auto value = key->QueryValue(c.name);
    ASSERT_TRUE(value) << c.name;
    EXPECT_EQ(value->type, c.type) << c.name;
    EXPECT_EQ(value->bytes, BytesOf(c.stored.substr(0, c.size))) << c.name;
  }
}

TEST_F(RegistryTest, KeyPathsIgnoreLetterCaseAndAReaderCannotSetValues) {
  Store("Version", REG_SZ, BytesOf(std::string("4.2.0", 6)));
  auto key = SystemRegistry().OpenLocalMachineKey("SOFTWARE\\QLXTEST\\registry", KeyAccess::kQuery);
  ASSERT_TRUE(key);
  EXPECT_TRUE((*key)->QueryValue("Version"));
  EXPECT_EQ(
      (*key)->SetValue("Version", RegistryData{kRegSz, BytesOf(std::string("4.3.1", 6))}).error(),
      kErrorAccessDenied);
  EXPECT_EQ(Stored("Version").bytes, BytesOf(std::string("4.2.0", 6)));
}

TEST_F(RegistryTest, SetValueStoresTypeAndBytes) {
  Store("Build", REG_EXPAND_SZ, BytesOf(std::string("4.2.0.1234", 11)));
  auto key = OpenScratch();
  ASSERT_TRUE(key->SetValue("Build", RegistryData{kRegExpandSz, BytesOf(std::string("4.3.1", 6))}));
  const RegistryData stored = Stored("Build");
  EXPECT_EQ(stored.type, static_cast<uint32_t>(REG_EXPAND_SZ));
  EXPECT_EQ(stored.bytes, BytesOf(std::string("4.3.1", 6)));
}

}  // namespace
}  // namespace qlx::platform
