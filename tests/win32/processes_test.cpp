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

std::string WithoutTrailingBackslash(std::string path) {
  if (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

std::string CurrentDirectory() {
  char path[MAX_PATH] = {};
  const DWORD length = GetCurrentDirectoryA(MAX_PATH, path);
  return std::string(path, length);
}

std::optional<std::string> Variable(const char* name) {
  char value[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableA(name, value, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::nullopt;
  return std::string(value, length);
}

void SetVariable(const char* name, const std::optional<std::string>& value) {
  SetEnvironmentVariableA(name, value ? value->c_str() : nullptr);
}

TEST(RunHiddenTest, GivesTheChildsExitCode) {
  const ProgramOutcome outcome = SystemProcesses().RunHidden("cmd /c exit 3");
  EXPECT_FALSE(outcome.failed);
  EXPECT_EQ(outcome.code, 3u);
}

TEST(RunHiddenTest, GivesZeroForASuccessfulChild) {
  const ProgramOutcome outcome = SystemProcesses().RunHidden("cmd /c exit 0");
  EXPECT_FALSE(outcome.failed);
  EXPECT_EQ(outcome.code, 0u);
}

TEST(RunHiddenTest, MissingProgramIsAFailureWithFileNotFound) {
  const ProgramOutcome outcome = SystemProcesses().RunHidden("qlx_no_such_program -r");
  EXPECT_TRUE(outcome.failed);
  EXPECT_EQ(outcome.code, 2u);
}

TEST(RunHiddenTest, ToolTheInterpreterCannotFindIsTheInterpretersExitCode) {
  const ProgramOutcome outcome =
      SystemProcesses().RunHidden("cmd /c \"qlx_no_such_tool -r -f \"C:\\x y\\t.xml\"\" > null");
  EXPECT_FALSE(outcome.failed);
  EXPECT_NE(outcome.code, 0u);
}

TEST(RunHiddenTest, ChildWorksInTheTemporaryDirectory) {
  const std::string output = test::TemporaryDirectory() + "qlx_runner_cwd.txt";
  DeleteFileA(output.c_str());
  const ProgramOutcome outcome = SystemProcesses().RunHidden("cmd /c cd > qlx_runner_cwd.txt");
  EXPECT_FALSE(outcome.failed);
  EXPECT_EQ(outcome.code, 0u);
  EXPECT_EQ(Trimmed(test::ReadBinaryFile(output)),
            WithoutTrailingBackslash(test::TemporaryDirectory()));
  DeleteFileA(output.c_str());
}

// Runs the interpreter tests inside a scratch directory made current.
class CommandInterpreterTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SetCurrentDirectoryA(scratch_.Path().c_str())); }
  void TearDown() override {
    SetCurrentDirectoryA(previous_directory_.c_str());
    SetVariable("COMSPEC", previous_comspec_);
  }

  const std::string previous_directory_ = CurrentDirectory();
  const std::optional<std::string> previous_comspec_ = Variable("COMSPEC");
  test::ScratchDirectory scratch_{"qlx interpreter test"};
};

TEST_F(CommandInterpreterTest, RunsTheLineInTheCurrentDirectory) {
  SystemProcesses().RunCommandInterpreter("echo hello> out.txt");
  EXPECT_EQ(test::ReadBinaryFile(scratch_.File("out.txt")), "hello\r\n");
}

TEST_F(CommandInterpreterTest, RedirectsIntoAQuotedPathWithBlanks) {
  SystemProcesses().RunCommandInterpreter("hostname > \"" + scratch_.File("pass1.txt") + "\"");
  EXPECT_FALSE(Trimmed(test::ReadBinaryFile(scratch_.File("pass1.txt"))).empty());
}

TEST_F(CommandInterpreterTest, FallsBackToCmdWhenComspecIsUnset) {
  SetVariable("COMSPEC", std::nullopt);
  SystemProcesses().RunCommandInterpreter("echo unset> out.txt");
  EXPECT_EQ(test::ReadBinaryFile(scratch_.File("out.txt")), "unset\r\n");
}

TEST_F(CommandInterpreterTest, FallsBackToCmdWhenComspecNamesNoProgram) {
  SetVariable("COMSPEC", std::string("C:\\qlx\\no such\\interpreter.exe"));
  SystemProcesses().RunCommandInterpreter("echo fallback> out.txt");
  EXPECT_EQ(test::ReadBinaryFile(scratch_.File("out.txt")), "fallback\r\n");
}

TEST_F(CommandInterpreterTest, MissingToolStillLeavesTheRedirectionFile) {
  SystemProcesses().RunCommandInterpreter("qlx_no_such_tool -e host > \"" +
                                          scratch_.File("pass1.txt") + "\"");
  EXPECT_TRUE(test::FileExists(scratch_.File("pass1.txt")));
  EXPECT_EQ(test::ReadBinaryFile(scratch_.File("pass1.txt")), "");
}

}  // namespace
}  // namespace qlx::platform
