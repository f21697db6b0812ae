#include "platform/processes.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "win32_test_support.h"

namespace qlx::platform {
namespace {

// The text without trailing line breaks and blanks.
std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

TEST(RunHiddenTest, GivesTheExitCodeOfTheChildOrItsInterpreter) {
  for (const uint32_t code : {0u, 3u}) {
    const Result<uint32_t> outcome =
        SystemProcesses().RunHidden("cmd /c exit " + std::to_string(code));
    EXPECT_TRUE(outcome) << code;
    EXPECT_EQ(outcome.value_or(~0u), code);
  }
  const Result<uint32_t> unknown_tool =
      SystemProcesses().RunHidden("cmd /c \"qlx_no_such_tool -r -f \"C:\\x y\\t.xml\"\" > null");
  EXPECT_TRUE(unknown_tool);
  EXPECT_NE(unknown_tool.value_or(0u), 0u);
}

TEST(RunHiddenTest, MissingProgramIsAFailureWithFileNotFound) {
  const Result<uint32_t> outcome = SystemProcesses().RunHidden("qlx_no_such_program -r");
  EXPECT_FALSE(outcome);
  EXPECT_EQ(outcome.error(), 2u);
}

TEST(RunHiddenTest, ChildWorksInTheTemporaryDirectory) {
  const std::string output = test::TemporaryDirectory() + "qlx_runner_cwd.txt";
  DeleteFileA(output.c_str());
  const Result<uint32_t> outcome = SystemProcesses().RunHidden("cmd /c cd > qlx_runner_cwd.txt");
  EXPECT_TRUE(outcome);
  EXPECT_EQ(outcome.value_or(~0u), 0u);
  std::string directory = test::TemporaryDirectory();
  directory.pop_back();  // its trailing backslash
  EXPECT_EQ(Trimmed(test::ReadBinaryFile(output)), directory);
  DeleteFileA(output.c_str());
}

// Runs the interpreter tests inside a scratch directory made current.
class CommandInterpreterTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(current_.Changed()); }

  test::ScratchDirectory scratch_{"qlx interpreter test"};
  test::ScopedCurrentDirectory current_{scratch_.Path()};
};

// The interpreter COMSPEC names, cmd when it is unset or names no program.
TEST_F(CommandInterpreterTest, RunsTheLineInTheCurrentDirectory) {
  const std::optional<std::string> comspecs[] = {test::ScopedEnvironmentVariable::Get("COMSPEC"),
                                                 std::nullopt,
                                                 std::string("C:\\qlx\\no such\\interpreter.exe")};
  for (const std::optional<std::string>& comspec : comspecs) {
    const test::ScopedEnvironmentVariable variable("COMSPEC", comspec);
    DeleteFileA(scratch_.File("out.txt").c_str());
    SystemProcesses().RunCommandInterpreter("echo hello> out.txt");
    EXPECT_EQ(test::ReadBinaryFile(scratch_.File("out.txt")), "hello\r\n")
        << comspec.value_or("COMSPEC unset");
  }
}

TEST_F(CommandInterpreterTest, RedirectsIntoAQuotedPathWithBlanks) {
  SystemProcesses().RunCommandInterpreter("hostname > \"" + scratch_.File("pass1.txt") + "\"");
  EXPECT_FALSE(Trimmed(test::ReadBinaryFile(scratch_.File("pass1.txt"))).empty());

  // A tool that cannot be found still leaves the redirection's file, empty.
  SystemProcesses().RunCommandInterpreter("qlx_no_such_tool -e host > \"" +
                                          scratch_.File("pass2.txt") + "\"");
  EXPECT_TRUE(test::FileExists(scratch_.File("pass2.txt")));
  EXPECT_EQ(test::ReadBinaryFile(scratch_.File("pass2.txt")), "");
}

}  // namespace
}  // namespace qlx::platform
