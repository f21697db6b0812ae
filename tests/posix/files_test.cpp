// Files on the program's backslash paths, with Windows error codes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/files.h"
#include "platform/windows_codes.h"
#include "posix_test_support.h"

namespace qlx::posix_tests {
namespace {

using platform::kErrorAccessDenied;
using platform::kErrorFileNotFound;
using platform::kErrorPathNotFound;

// The program's form of a path: a directory, then a suffix with backslashes.
std::string WindowsPath(const fs::path& directory, const std::string& suffix) {
  return directory.string() + suffix;
}

uint32_t OpenError(const std::string& path, const char* mode) {
  const platform::Result<platform::UniqueFile> file = platform::OpenFile(path, mode);
  EXPECT_FALSE(file) << path;
  return file.error();
}

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(directory_.path() / "config");
    WriteBytes(directory_.path() / "config" / "database.props", "ov.Database.hostName=db\n");
  }
  ScratchDirectory directory_;
};

TEST_F(FilesTest, OpensBackslashPaths) {
  const platform::Result<platform::UniqueFile> file =
      platform::OpenFile(WindowsPath(directory_.path(), "\\config\\database.props"), "r");
  ASSERT_TRUE(file);
  char line[64] = {};
  ASSERT_TRUE(std::fgets(line, sizeof line, file->get()));
  EXPECT_STREQ(line, "ov.Database.hostName=db\n");
}

TEST_F(FilesTest, OpenFailuresCarryWindowsCodes) {
  EXPECT_EQ(OpenError(WindowsPath(directory_.path(), "\\config\\missing.props"), "r"),
            kErrorFileNotFound);
  EXPECT_EQ(OpenError(WindowsPath(directory_.path(), "\\nodir\\database.props"), "r"),
            kErrorPathNotFound);
  EXPECT_EQ(OpenError(" \\config\\database.props", "r"), kErrorPathNotFound)
      << "a path formed from an unreadable registry value";
  EXPECT_EQ(OpenError(WindowsPath(directory_.path(), "\\config\\database.props\\x"), "r"),
            kErrorPathNotFound);
  EXPECT_EQ(OpenError(WindowsPath(directory_.path(), "\\config"), "r"), kErrorAccessDenied);
  EXPECT_EQ(OpenError(WindowsPath(directory_.path(), "\\config"), "a+"), kErrorAccessDenied);
}

TEST_F(FilesTest, WriteIntoReadOnlyDirectoryIsDenied) {
  ReadOnlyDirectory read_only(directory_.path() / "config");
  ASSERT_TRUE(read_only.Refuses());

  EXPECT_EQ(OpenError(WindowsPath(directory_.path(), "\\config\\new.log"), "a+"),
            kErrorAccessDenied);
}

TEST_F(FilesTest, RemoveDeletesFilesOnly) {
  EXPECT_TRUE(platform::RemoveFile(WindowsPath(directory_.path(), "\\config\\database.props")));
  EXPECT_FALSE(fs::exists(directory_.path() / "config" / "database.props"));

  EXPECT_FALSE(platform::RemoveFile(WindowsPath(directory_.path(), "\\config\\database.props")));
  fs::create_directory(directory_.path() / "empty");
  EXPECT_FALSE(platform::RemoveFile(WindowsPath(directory_.path(), "\\empty")));
  EXPECT_TRUE(fs::exists(directory_.path() / "empty"));
}

class CopyFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(host_.path() / "Tools");
    WriteBytes(source_, "<tools version=\"4.3.1\"/>\r\n");
    WriteBytes(target_, "<tools version=\"4.2\"/>\r\n<old/>\r\n");
  }
  uint32_t Copy(const std::string& from, const std::string& to) {
    return platform::CopyFileReplacing(from, to).error();
  }
  std::string Target() const { return WindowsPath(host_.path(), "\\Tools\\qlxtools.xml"); }
  long FilesIn(const fs::path& directory) const {
    return std::distance(fs::directory_iterator(directory), fs::directory_iterator());
  }

  ScratchDirectory current_;
  ScratchDirectory host_;
  fs::path source_ = current_.path() / "qlxtools.xml";
  fs::path target_ = host_.path() / "Tools" / "qlxtools.xml";
};

TEST_F(CopyFileTest, ReplacesOrCreatesTheTargetWithTheSourceBytes) {
  EXPECT_EQ(Copy(source_.string(), Target()), 0u);
  EXPECT_EQ(ReadBytes(target_), "<tools version=\"4.3.1\"/>\r\n");
  EXPECT_EQ(FilesIn(host_.path() / "Tools"), 1);

  fs::remove(target_);
  EXPECT_EQ(Copy(source_.string(), Target()), 0u);
  EXPECT_EQ(ReadBytes(target_), "<tools version=\"4.3.1\"/>\r\n");
}

TEST_F(CopyFileTest, FailuresCarryWindowsCodesAndLeaveTheTarget) {
  const std::string original = ReadBytes(target_);
  EXPECT_EQ(Copy((current_.path() / "missing.xml").string(), Target()), kErrorFileNotFound);
  EXPECT_EQ(Copy(WindowsPath(current_.path(), "\\nodir\\qlxtools.xml"), Target()),
            kErrorPathNotFound);
  EXPECT_EQ(Copy(source_.string(), WindowsPath(host_.path(), "\\NoTools\\qlxtools.xml")),
            kErrorPathNotFound);
  EXPECT_EQ(Copy(current_.path().string(), Target()), kErrorAccessDenied)
      << "a directory as source";
  EXPECT_EQ(Copy(source_.string(), WindowsPath(host_.path(), "\\Tools")), kErrorAccessDenied)
      << "a directory as target";
  EXPECT_EQ(ReadBytes(target_), original);
}

TEST_F(CopyFileTest, ReadOnlyTargetDirectoryIsDeniedAndLeftAsItWas) {
  const std::string original = ReadBytes(target_);
  ReadOnlyDirectory read_only(host_.path() / "Tools");
  ASSERT_TRUE(read_only.Refuses());

  EXPECT_EQ(Copy(source_.string(), Target()), kErrorAccessDenied);

  EXPECT_EQ(ReadBytes(target_), original);
  EXPECT_EQ(FilesIn(host_.path() / "Tools"), 1);
}

}  // namespace
}  // namespace qlx::posix_tests
