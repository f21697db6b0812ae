// Child processes: Windows command-line splitting, the command interpreter
// stand-in, working directories and exit codes.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/posix/windows_command_line.h"
#include "platform/processes.h"
#include "posix_test_support.h"

namespace qlx::posix_tests {
namespace {

using platform::posix::CommandInterpreterRequest;
using platform::posix::ShellCommandForRequest;
using platform::posix::SplitWindowsCommandLine;
using Arguments = std::vector<std::string>;

constexpr uint32_t kFileNotFound = 2;
constexpr uint32_t kAccessDenied = 5;
constexpr uint32_t kBadExeFormat = 193;
constexpr uint32_t kDirectoryInvalid = 267;

TEST(WindowsCommandLineTest, SplitsAsTheWindowsRuntimeDoes) {
  EXPECT_EQ(SplitWindowsCommandLine("tool \"a b c\" d e"), (Arguments{"tool", "a b c", "d", "e"}));
  EXPECT_EQ(SplitWindowsCommandLine("tool \"ab\\\"c\" \"\\\\\" d"),
            (Arguments{"tool", "ab\"c", "\\", "d"}));
  EXPECT_EQ(SplitWindowsCommandLine("tool a\\\\\\b d\"e f\"g h"),
            (Arguments{"tool", "a\\\\\\b", "de fg", "h"}));
  EXPECT_EQ(SplitWindowsCommandLine("tool a\\\\\\\"b c d"),
            (Arguments{"tool", "a\\\"b", "c", "d"}));
  EXPECT_EQ(SplitWindowsCommandLine("tool a\\\\\\\\\"b c\" d e"),
            (Arguments{"tool", "a\\\\b c", "d", "e"}));
  EXPECT_EQ(SplitWindowsCommandLine("tool a\"b\"\" c d"), (Arguments{"tool", "ab\" c d"}));
  EXPECT_EQ(SplitWindowsCommandLine("tool \"\" x"), (Arguments{"tool", "", "x"}));
  EXPECT_EQ(SplitWindowsCommandLine("  tool\tx  "), (Arguments{"tool", "x"}));
  EXPECT_EQ(SplitWindowsCommandLine(""), Arguments{});
}

TEST(WindowsCommandLineTest, ProgramNameTakesNoEscapes) {
  EXPECT_EQ(SplitWindowsCommandLine("\"C:\\Program Files\\tool.exe\" -r"),
            (Arguments{"C:\\Program Files\\tool.exe", "-r"}));
  EXPECT_EQ(SplitWindowsCommandLine("C:\\dir\\\"x y\"\\tool a"),
            (Arguments{"C:\\dir\\x y\\tool", "a"}));
}

TEST(WindowsCommandLineTest, RecognisesTheCommandInterpreterWithSlashC) {
  EXPECT_EQ(CommandInterpreterRequest("cmd /c  dir x"), "dir x");
  EXPECT_EQ(CommandInterpreterRequest("CMD.EXE /C \"a\" b"), "\"a\" b");
  EXPECT_EQ(CommandInterpreterRequest("\"C:\\Windows\\System32\\cmd.exe\" /c x"), "x");
  EXPECT_EQ(CommandInterpreterRequest("cmd /c"), "");
  EXPECT_EQ(CommandInterpreterRequest("cmd /k x"), std::nullopt);
  EXPECT_EQ(CommandInterpreterRequest("cmdx /c x"), std::nullopt);
  EXPECT_EQ(CommandInterpreterRequest("zqtool /c x"), std::nullopt);
}

TEST(WindowsCommandLineTest, ShellCommandDropsTheOuterQuotesAndTurnsBackslashes) {
  EXPECT_EQ(ShellCommandForRequest("\"zqtool -r -f \"C:\\Host Dir\\Tools\\qlxtools.xml\"\" > null"),
            "zqtool -r -f \"C:/Host Dir/Tools/qlxtools.xml\" > null");
  EXPECT_EQ(ShellCommandForRequest("hostname > \"D:\\QLX\\pass1.txt\""),
            "hostname > \"D:/QLX/pass1.txt\"");
  EXPECT_EQ(ShellCommandForRequest("\"lonely"), "lonely");
}

class ProcessesTest : public ::testing::Test {
 protected:
  platform::ProgramOutcome Run(const std::string& command_line) {
    return platform::SystemProcesses().RunHidden(command_line);
  }
  ScratchDirectory temporary_;
  ScratchDirectory scripts_;
  ScopedEnvironment tmpdir_{"TMPDIR", temporary_.path().string()};
};

TEST_F(ProcessesTest, ReturnsTheExitCodeOfTheChildOrItsInterpreter) {
  const struct {
    const char* command_line;
    uint32_t code;
  } cases[] = {
      {"true", 0},
      {"sh -c \"exit 3\"", 3},
      {"sh -c \"kill -9 $$\"", 128 + 9},  // killed by a signal
      {"CMD.EXE /C exit 4", 4},
  };
  for (const auto& c : cases) {
    const platform::ProgramOutcome outcome = Run(c.command_line);
    EXPECT_FALSE(outcome.failed) << c.command_line;
    EXPECT_EQ(outcome.code, c.code) << c.command_line;
  }
  const platform::ProgramOutcome unknown_tool = Run("cmd /c \"qlx-no-such-tool -r\" > null");
  EXPECT_FALSE(unknown_tool.failed);
  EXPECT_NE(unknown_tool.code, 0u);
}

TEST_F(ProcessesTest, ProgramThatCannotStartGivesTheWindowsCode) {
  const std::string not_executable = scripts_ / "data.txt";
  WriteBytes(not_executable, "text");
  const std::string garbage = scripts_ / "garbage";
  WriteBytes(garbage, std::string("\x7f"
                                  "ELF\x01\x02\x03",
                                  7));
  fs::permissions(garbage, fs::perms::owner_all);
  const struct {
    std::string command_line;
    uint32_t code;
  } cases[] = {
      {"qlx-no-such-program -r", kFileNotFound},
      {"\"" + not_executable + "\"", kAccessDenied},
      {garbage, kBadExeFormat},
  };
  for (const auto& c : cases) {
    const platform::ProgramOutcome outcome = Run(c.command_line);
    EXPECT_TRUE(outcome.failed) << c.command_line;
    EXPECT_EQ(outcome.code, c.code) << c.command_line;
  }

  ScopedEnvironment tmpdir("TMPDIR", temporary_ / "gone");
  const platform::ProgramOutcome outcome = Run("true");
  EXPECT_TRUE(outcome.failed) << "without the temporary directory";
  EXPECT_EQ(outcome.code, kDirectoryInvalid);
}

TEST_F(ProcessesTest, ArgumentsArriveAsTheWindowsRulesSplitThem) {
  // Writes its arguments, one a line, to args.txt in the directory it runs in.
  const std::string script = scripts_ / "print args";
  WriteBytes(script, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > args.txt\n");
  fs::permissions(script, fs::perms::owner_all);

  const platform::ProgramOutcome outcome =
      Run("\"" + script + "\" \"a b\" c\\\"d \"\" \"e\"\"f\" C:\\dir\\");

  ASSERT_FALSE(outcome.failed) << outcome.code;
  EXPECT_EQ(ReadBytes(temporary_.path() / "args.txt"), "a b\nc\"d\n\ne\"f\nC:\\dir\\\n");
}

TEST_F(ProcessesTest, ChildRunsInTheTemporaryDirectory) {
  ASSERT_FALSE(Run("sh -c \"pwd > where.txt\"").failed);
  EXPECT_EQ(ReadBytes(temporary_.path() / "where.txt"), temporary_.path().string() + "\n");
}

TEST_F(ProcessesTest, CommandInterpreterRunsTheRequestInTheTemporaryDirectory) {
  const platform::ProgramOutcome outcome =
      Run("cmd /c \"echo -r -f \"C:\\Host Dir\\Tools\\qlxtools.xml\"\" > null");

  EXPECT_FALSE(outcome.failed);
  EXPECT_EQ(outcome.code, 0u);
  EXPECT_EQ(ReadBytes(temporary_.path() / "null"), "-r -f C:/Host Dir/Tools/qlxtools.xml\n");
}

TEST_F(ProcessesTest, ChildInheritsNoOpenFileOfOurs) {
  const std::string path = scripts_ / "open.txt";
  WriteBytes(path, "x");
  const platform::UniqueFile open_file(std::fopen(path.c_str(), "r"));
  ASSERT_TRUE(open_file);
  const std::string fd = std::to_string(fileno(open_file.get()));

  const platform::ProgramOutcome outcome = Run("sh -c \"test -e /proc/$$/fd/" + fd + "\"");

  EXPECT_FALSE(outcome.failed);
  EXPECT_EQ(outcome.code, 1u) << "descriptor " << fd << " reached the child";
}

TEST_F(ProcessesTest, CommandInterpreterLineRunsInTheCurrentDirectory) {
  ScratchDirectory current;
  fs::create_directory(current.path() / "out");
  ScopedCurrentDirectory in_current(current.path());

  platform::SystemProcesses().RunCommandInterpreter("echo hi > \"out\\host.txt\"");

  EXPECT_EQ(ReadBytes(current.path() / "out" / "host.txt"), "hi\n");
  EXPECT_FALSE(fs::exists(temporary_.path() / "out"));
}

}  // namespace
}  // namespace qlx::posix_tests
