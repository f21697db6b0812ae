#include <gtest/gtest.h>

#include "config/registry_values.h"
#include "fakes/fake_platform.h"
#include "platform/platform.h"

namespace qlx::testing {
namespace {

using Bytes = std::vector<unsigned char>;
constexpr char kKey[] = "Software\\OV\\Quellmark";

class RegistryValuesTest : public ::testing::Test {
 protected:
  std::string Read(const std::string& key, const std::string& name) {
    return ReadRegistryValue(RegistryRoot::kLocalMachine, key, name);
  }
  bool Update(const std::string& name) {
    return UpdateRegistryValue(RegistryRoot::kLocalMachine, kKey, name, "4.3.1");
  }
  Bytes Stored(const std::string& name) { return registry_.Get(kKey, name)->bytes; }

  FakeRegistry registry_;
  platform::ScopedFacilities facilities_{{&registry_, nullptr, nullptr, nullptr, nullptr, nullptr}};
};

TEST_F(RegistryValuesTest, UnreadableValuesReadAsOneBlank) {
  registry_.SetString(kKey, "Empty", "");
  registry_.SetBytes(kKey, "NoData", platform::kRegSz, {});
  EXPECT_EQ(Read("Software\\Missing", "Build"), " ");
  EXPECT_EQ(Read(kKey, "Missing"), " ");
  EXPECT_EQ(Read(kKey, "Empty"), " ");
  EXPECT_EQ(Read(kKey, "NoData"), " ");
}

TEST_F(RegistryValuesTest, OnlyAnUpdateAsksForTheRightToSetValues) {
  registry_.SetString(kKey, "Build", "4.2.0");
  Read(kKey, "Build");
  Update("Build");
  EXPECT_EQ(registry_.opened_with,
            (std::vector<platform::KeyAccess>{platform::KeyAccess::kQuery,
                                              platform::KeyAccess::kQueryAndSet}));
}

TEST_F(RegistryValuesTest, ReadGivesTheTextUpToItsFirstZeroByte) {
  registry_.SetString(kKey, "One", "x");
  registry_.SetBytes(kKey, "Unterminated", platform::kRegSz, {'a', 'b'});
  registry_.SetBytes(kKey, "Multi", platform::kRegMultiSz, {'a', 0, 'b', 0, 0});
  registry_.SetString(kKey, "Expand", "%SystemRoot%\\x", platform::kRegExpandSz);
  EXPECT_EQ(Read(kKey, "One"), "x");
  EXPECT_EQ(Read("SOFTWARE\\ov\\QUELLMARK", "one"), "x");
  EXPECT_EQ(Read(kKey, "Unterminated"), "ab");
  EXPECT_EQ(Read(kKey, "Multi"), "a");
  EXPECT_EQ(Read(kKey, "Expand"), "%SystemRoot%\\x");
}

TEST_F(RegistryValuesTest, UpdateStoresExactlyTheTextAndItsZeroByteKeepingTheType) {
  registry_.SetString(kKey, "Build", "4.2.0.1234");
  registry_.SetString(kKey, "Short", "4");
  registry_.SetString(kKey, "Expand", "4.2.0", platform::kRegExpandSz);
  ASSERT_TRUE(Update("Build"));
  ASSERT_TRUE(Update("Short"));
  ASSERT_TRUE(Update("Expand"));
  const Bytes expected{'4', '.', '3', '.', '1', 0};
  EXPECT_EQ(Stored("Build"), expected);
  EXPECT_EQ(Stored("Short"), expected);
  EXPECT_EQ(Stored("Expand"), expected);
  EXPECT_EQ(registry_.Get(kKey, "Expand")->type, platform::kRegExpandSz);
  EXPECT_EQ(Read(kKey, "Build"), "4.3.1");
}

TEST_F(RegistryValuesTest, AMultiStringStaysWellFormed) {
  registry_.SetBytes(kKey, "Multi", platform::kRegMultiSz, {'a', 0, 'b', 0, 0});
  ASSERT_TRUE(Update("Multi"));
  EXPECT_EQ(Stored("Multi"), (Bytes{'4', '.', '3', '.', '1', 0, 0}));
}

TEST_F(RegistryValuesTest, UpdateCreatesNothingAndRefusesWhatItWouldCorrupt) {
  registry_.SetString(kKey, "Empty", "");
  registry_.SetBytes(kKey, "Number", platform::kRegDword, {1, 2, 3, 4});
  registry_.SetBytes(kKey, "Big", platform::kRegQword, {1, 2, 3, 4, 5, 6, 7, 8});
  registry_.SetBytes(kKey, "Raw", platform::kRegBinary, {1, 2});
  for (const char* name : {"Missing", "Empty", "Number", "Big", "Raw"}) {
    EXPECT_FALSE(Update(name)) << name;
  }
  EXPECT_FALSE(
      UpdateRegistryValue(RegistryRoot::kLocalMachine, "Software\\Missing", "Build", "4.3.1"));
  EXPECT_EQ(registry_.writes, 0);
  EXPECT_FALSE(registry_.Get(kKey, "Missing"));
  EXPECT_EQ(Stored("Number"), (Bytes{1, 2, 3, 4}));
}

TEST_F(RegistryValuesTest, ARefusedWriteIsReported) {
  registry_.SetString(kKey, "Build", "4.2.0");
  registry_.refuse_writes = true;
  EXPECT_FALSE(Update("Build"));
  EXPECT_EQ(Read(kKey, "Build"), "4.2.0");
}

}  // namespace
}  // namespace qlx::testing
