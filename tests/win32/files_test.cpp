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

TEST_F(FilesTest, OpensAnExistingFile) {
  test::WriteBinaryFile(scratch_.File("present.txt"), "text\n");
  uint32_t error = 0;
  UniqueFile file = OpenFile(scratch_.File("present.txt"), "r", &error);
  EXPECT_NE(file, nullptr);
  EXPECT_EQ(error, 0u);
}

TEST_F(FilesTest, MissingFileGivesFileNotFound) {
  uint32_t error = 0;
  EXPECT_EQ(OpenFile(scratch_.File("absent.txt"), "r", &error), nullptr);
  EXPECT_EQ(error, 2u);
}

TEST_F(FilesTest, MissingDirectoryGivesPathNotFound) {
  uint32_t error = 0;
  EXPECT_EQ(OpenFile(scratch_.Path() + "\\no such dir\\file.txt", "r", &error), nullptr);
  EXPECT_EQ(error, 3u);
  error = 0;
  EXPECT_EQ(OpenFile(scratch_.Path() + "\\no such dir\\file.txt", "a+", &error), nullptr);
  EXPECT_EQ(error, 3u);
}

TEST_F(FilesTest, DirectoryOfASingleBlankIsMissing) {
  uint32_t error = 0;
  EXPECT_EQ(OpenFile(" \\config\\database.props", "r", &error), nullptr);
  EXPECT_EQ(error, 3u);
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

TEST_F(FilesTest, CopyFromAMissingFileGivesFileNotFound) {
  EXPECT_EQ(CopyFileReplacing(scratch_.File("absent.xml"), scratch_.File("target.xml")), 2u);
  EXPECT_FALSE(test::FileExists(scratch_.File("target.xml")));
}

TEST_F(FilesTest, CopyIntoAMissingDirectoryGivesPathNotFound) {
  test::WriteBinaryFile(scratch_.File("new.xml"), "<new/>");
  EXPECT_EQ(CopyFileReplacing(scratch_.File("new.xml"), scratch_.Path() + "\\Tools\\new.xml"), 3u);
}

}  // namespace
}  // namespace qlx::platform
