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
    uint32_t error = 0;
    const UniqueFile file = OpenFile(c.path, c.mode, &error);
    EXPECT_EQ(file != nullptr, c.error == 0) << c.path << " " << c.mode;
    EXPECT_EQ(error, c.error) << c.path << " " << c.mode;
  }
}

TEST_F(FilesTest, AppendModeCreatesTheFileAndWritesCrLf) {
  {
    UniqueFile file = OpenFile(scratch_.File("log.txt"), "a+");
    ASSERT_NE(file, nullptr);
    std::fputs("one\n", file.get());
  }
  {
    UniqueFile file = OpenFile(scratch_.File("log.txt"), "a+");
    ASSERT_NE(file, nullptr);
    std::fputs("two\n", file.get());
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
  EXPECT_EQ(CopyFileReplacing(scratch_.File("new.xml"), scratch_.File("installed.xml")), 0u);
  EXPECT_EQ(test::ReadBinaryFile(scratch_.File("installed.xml")), "<new/>");
}

TEST_F(FilesTest, CopyFailuresGiveTheWindowsCode) {
  test::WriteBinaryFile(scratch_.File("new.xml"), "<new/>");
  EXPECT_EQ(CopyFileReplacing(scratch_.File("absent.xml"), scratch_.File("target.xml")), 2u);
  EXPECT_FALSE(test::FileExists(scratch_.File("target.xml")));
  EXPECT_EQ(CopyFileReplacing(scratch_.File("new.xml"), scratch_.Path() + "\\Tools\\new.xml"), 3u);
}

}  // namespace
}  // namespace qlx::platform
