#include "platform/files.h"

#include <gtest/gtest.h>

#include <string>

#include "win32_test_support.h"

namespace qlx::platform {
namespace {

class FilesTest : public ::testing::Test {
 protected:
  test::ScratchDirectory scratch_{"qlx_files_test"};
};

TEST_F(FilesTest, OpenGivesTheFileOrTheWindowsCode) {
  test::WriteBinaryFile(scratch_.File("present.txt"), "text\n");
  const struct {
    std::string path;
    const char* mode;
    uint32_t error;
  } cases[] = {
      {scratch_.File("present.txt"), "r", 0},
      {scratch_.File("absent.txt"), "r", 2},
      {scratch_.Path() + "\\no such dir\\file.txt", "r", 3},
      {scratch_.Path() + "\\no such dir\\file.txt", "a+", 3},
      {" \\config\\database.props", "r", 3},  // below a directory of a single blank
  };
  for (const auto& c : cases) {
    EXPECT_EQ(OpenFile(c.path, c.mode).error(), c.error) << c.path << " " << c.mode;
  }
}

TEST_F(FilesTest, AppendModeCreatesTheFileAndWritesCrLf) {
  for (const char* line : {"one\n", "two\n"}) {
    const auto file = SystemFiles().Open(scratch_.File("log.txt"), "a+");
    ASSERT_TRUE(file);
    EXPECT_TRUE((*file)->Write(line));
  }
  EXPECT_EQ(test::ReadBinaryFile(scratch_.File("log.txt")), "one\r\ntwo\r\n");
}

TEST_F(FilesTest, RemoveFileDeletesAndReportsAMissingFile) {
  test::WriteBinaryFile(scratch_.File("doomed.txt"), "x");
  EXPECT_TRUE(RemoveFile(scratch_.File("doomed.txt")));
  EXPECT_FALSE(test::FileExists(scratch_.File("doomed.txt")));
  EXPECT_FALSE(RemoveFile(scratch_.File("doomed.txt")));
}

TEST_F(FilesTest, CopyReplacesAnExistingFile) {
  test::WriteBinaryFile(scratch_.File("new.xml"), "<new/>");
  test::WriteBinaryFile(scratch_.File("installed.xml"), "<old and longer/>");
  EXPECT_TRUE(CopyFileReplacing(scratch_.File("new.xml"), scratch_.File("installed.xml")));
  EXPECT_EQ(test::ReadBinaryFile(scratch_.File("installed.xml")), "<new/>");
}

TEST_F(FilesTest, CopyFailuresGiveTheWindowsCode) {
  test::WriteBinaryFile(scratch_.File("new.xml"), "<new/>");
  EXPECT_EQ(CopyFileReplacing(scratch_.File("absent.xml"), scratch_.File("target.xml")).error(),
            2u);
  EXPECT_FALSE(test::FileExists(scratch_.File("target.xml")));
  EXPECT_EQ(
      CopyFileReplacing(scratch_.File("new.xml"), scratch_.Path() + "\\Tools\\new.xml").error(),
      3u);
}

}  // namespace
}  // namespace qlx::platform
