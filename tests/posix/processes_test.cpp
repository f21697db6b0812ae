// Child processes: Windows command-line splitting, the command interpreter
// stand-in, the private temporary directory, working directories and exit
// codes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/files.h"
#include "platform/posix/private_directory.h"
#include "platform/posix/windows_command_line.h"
#include "platform/processes.h"
#include "platform/windows_codes.h"
#include "posix_test_support.h"

namespace qlx::posix_tests {
namespace {

using platform::posix::CommandInterpreterRequest;
using platform::posix::SplitWindowsCommandLine;
using Arguments = std::vector<std::string>;

using platform::kErrorAccessDenied;
using platform::kErrorBadExeFormat;
using platform::kErrorDirectory;
using platform::kErrorFileNotFound;

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

class ProcessesTest : public ::testing::Test {
 protected:
  platform::Result<uint32_t> Run(const std::string& command_line) {
    return platform::SystemProcesses().RunHidden(command_line, nullptr);
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
      {"CMD.EXE /C sh -c \"exit 4\"", 4},
  };
  for (const auto& c : cases) {
    const platform::Result<uint32_t> outcome = Run(c.command_line);
    EXPECT_TRUE(outcome) << c.command_line;
    EXPECT_EQ(outcome.value_or(~0u), c.code) << c.command_line;
  }
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
      {"qlx-no-such-program -r", kErrorFileNotFound},
      {"\"" + not_executable + "\"", kErrorAccessDenied},
      {garbage, kErrorBadExeFormat},
  };
  for (const auto& c : cases) {
    const platform::Result<uint32_t> outcome = Run(c.command_line);
    EXPECT_FALSE(outcome) << c.command_line;
    EXPECT_EQ(outcome.error(), c.code) << c.command_line;
  }
}

TEST_F(ProcessesTest, ArgumentsArriveAsTheWindowsRulesSplitThem) {
  // Writes its arguments, one a line, to args.txt in the directory it runs in.
  const std::string script = scripts_ / "print args";
  WriteBytes(script, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > args.txt\n");
  fs::permissions(script, fs::perms::owner_all);

  const platform::Result<uint32_t> outcome =
      Run("\"" + script + "\" \"a b\" c\\\"d \"\" \"e\"\"f\" C:\\dir\\");

  ASSERT_TRUE(outcome) << outcome.error();
  EXPECT_EQ(ReadBytes(temporary_.path() / "args.txt"), "a b\nc\"d\n\ne\"f\nC:\\dir\\\n");
}

TEST_F(ProcessesTest, ChildRunsInTheTemporaryDirectory) {
  ASSERT_TRUE(Run("sh -c \"pwd > where.txt\""));
  EXPECT_EQ(ReadBytes(temporary_.path() / "where.txt"), temporary_.path().string() + "\n");

  // Without TMPDIR, the user's own directory under /tmp.
  ScopedEnvironment no_tmpdir("TMPDIR", std::nullopt);
  const platform::Result<uint32_t> outcome =
      Run("sh -c \"test \\\"$(pwd)\\\" = /tmp/qlxpatch-$(id -u)\"");
  EXPECT_TRUE(outcome);
  EXPECT_EQ(outcome.value_or(~0u), 0u);
}

// Where the children run, for each $TMPDIR: the directory itself when it is
// private, else the user's own directory inside it when that is safe, else
// the user's own directory inside the system's temporary directory.
TEST(ChildrenDirectoryTest, TmpdirOnlyWhenPrivateElseTheUsersOwnDirectoryInASafeParent) {
  ScratchDirectory base;
  const std::string own_name = "qlxpatch-" + std::to_string(::geteuid());
  const std::string system = base / "system";
  const fs::perms owner = fs::perms::owner_all;
  const fs::perms shared = fs::perms::all | fs::perms::sticky_bit;
  enum Where { kItself, kInside, kSystem, kNowhere };
  const auto MakeDirectory = [](const std::string& path, fs::perms mode) {
    fs::create_directories(path);
    fs::permissions(path, mode);
  };
  const auto Chown = [](const std::string& path) {
    return std::system(("chown 65534 '" + path + "' 2>/dev/null").c_str()) == 0;
  };
  const struct {
    const char* what;
    std::function<std::string(const std::string& tmpdir)> lay_out;  // gives $TMPDIR
    fs::perms system_mode;
    Where where;
  } cases[] = {
      {"private", [&](auto t) { return MakeDirectory(t, owner), t; }, shared, kItself},
      {"others may read",
       [&](auto t) {
         return MakeDirectory(t, owner | fs::perms::others_read | fs::perms::others_exec), t;
       },
       shared, kItself},
      {"shared and sticky, as /tmp", [&](auto t) { return MakeDirectory(t, shared), t; }, shared,
       kInside},
      {"the group may write, not sticky",
       [&](auto t) { return MakeDirectory(t, owner | fs::perms::group_write), t; }, shared,
       kSystem},
      {"a link to a private directory",
       [&](auto t) {
         MakeDirectory(t + ".real", owner);
         fs::create_directory_symlink(t + ".real", t);
         return t;
       },
       shared, kInside},
      {"missing", [&](auto t) { return t; }, owner, kSystem},
      {"a file",
       [&](auto t) {
         WriteBytes(t, "");
         return t;
       },
       owner, kSystem},
      {"unset", [&](auto) { return std::string(); }, owner, kSystem},
      {"own directory writable by the group",
       [&](auto t) {
         MakeDirectory(t, shared);
         MakeDirectory(t + "/" + own_name, owner | fs::perms::group_write);
         return t;
       },
       owner, kSystem},
      {"own directory a link",
       [&](auto t) {
         MakeDirectory(t, shared);
         MakeDirectory(t + ".real", owner);
         fs::create_directory_symlink(t + ".real", t + "/" + own_name);
         return t;
       },
       owner, kSystem},
      {"no safe place at all", [&](auto t) { return t; }, fs::perms::all, kNowhere},
      {"another user's",
       [&](auto t) {
         MakeDirectory(t, owner);
         return Chown(t) ? t : std::string();
       },
       owner, kSystem},
  };
  int index = 0;
  for (const auto& c : cases) {
    const std::string tmpdir = c.lay_out(base / ("tmpdir" + std::to_string(index++)));
    fs::remove_all(system);
    MakeDirectory(system, c.system_mode);
    const auto directory = platform::posix::ChildrenDirectory(tmpdir, system);
    if (c.where == kNowhere) {
      EXPECT_EQ(directory.error(), kErrorDirectory) << c.what;
      continue;
    }
    ASSERT_TRUE(directory) << c.what;
    const std::string expected = c.where == kItself   ? tmpdir
                                 : c.where == kInside ? tmpdir + "/" + own_name
                                                      : system + "/" + own_name;
    EXPECT_EQ(directory->path, expected) << c.what;
    // The descriptor is the directory named, made the user's alone.
    struct stat by_fd = {};
    struct stat by_path = {};
    ASSERT_EQ(::fstat(directory->fd.get(), &by_fd), 0) << c.what;
    ASSERT_EQ(::stat(expected.c_str(), &by_path), 0) << c.what;
    EXPECT_EQ(by_fd.st_ino, by_path.st_ino) << c.what;
    if (c.where != kItself) {
      EXPECT_EQ(by_fd.st_mode & 07777, 0700u) << c.what;
    }
  }
}

// The interpreter stand-in against real programs: "qlxrec" on PATH records
// its arguments, writes "out" (or, given -cat, its input) and then "err".
class CommandInterpreterTest : public ProcessesTest {
 protected:
  void SetUp() override {
    AddProgram(scripts_.path(), "qlxrec",
               "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$QLX_ARGUMENTS\"\n"
               "if [ \"$1\" = -cat ]; then cat; else echo out; fi\necho err >&2\n");
    AddProgram(temporary_.path(), "qlxwhich", "echo cwd\n");
    AddProgram(scripts_.path(), "qlxwhich", "echo path\n");
    WriteBytes(temporary_.path() / "qlxpathonly", "#!/bin/sh\necho cwd\n");  // not executable
    AddProgram(scripts_.path(), "qlxpathonly", "echo path\n");
    fs::create_directory(temporary_.path() / "sub dir");
    WriteFile("in.txt", "in\n", fs::perms::owner_read | fs::perms::owner_write);
    WriteFile("appended.txt", "old\n",
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    WriteFile("truncated.txt", "long old text\n",
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
  }
  static void AddProgram(const fs::path& directory, const std::string& name,
                         const std::string& body) {
    WriteBytes(directory / name, "#!/bin/sh\n" + body);
    fs::permissions(directory / name, fs::perms::owner_all);
  }
  void WriteFile(const std::string& name, const std::string& contents, fs::perms mode) {
    WriteBytes(temporary_.path() / name, contents);
    fs::permissions(temporary_.path() / name, mode);
  }
  std::optional<Arguments> RecordedArguments() {
    const fs::path path = scripts_.path() / "arguments";
    if (!fs::exists(path)) return std::nullopt;
    std::istringstream lines(ReadBytes(path));
    Arguments arguments;
    for (std::string line; std::getline(lines, line);) arguments.push_back(line);
    fs::remove(path);
    return arguments;
  }

  ScopedEnvironment path_{"PATH", scripts_.path().string() + ":" + std::getenv("PATH")};
  ScopedEnvironment record_{"QLX_ARGUMENTS", scripts_ / "arguments"};
  ScopedEnvironment value_{"QLX_Value", "\xC3\x9C"};  // U+00DC in UTF-8
  ScopedEnvironment drive_{"QLX_DRIVE_Q", temporary_.path().string()};
  ScopedEnvironment unmapped_{"QLX_DRIVE_Z", std::nullopt};
};

TEST_F(CommandInterpreterTest, ReadsTheLineAsCmdAndRunsOneProgramWithNoShell) {
  constexpr fs::perms kOwnerOnly = fs::perms::owner_read | fs::perms::owner_write;
  struct File {
    std::string name;
    std::optional<std::string> contents;  // nothing: no such file
    fs::perms mode = kOwnerOnly;
  };
  const std::string u_umlaut = "\xC3\x9C";
  const std::string q_drive = fs::canonical(temporary_.path()).string();
  const struct {
    std::string request;
    uint32_t code;
    std::optional<Arguments> arguments;  // nothing: qlxrec did not run
    std::vector<File> files;
  } cases[] = {
      // The outer quotes go; inner quotes group; nothing but cmd's own
      // characters means anything.
      {"\"qlxrec -f \"C:\\Host Dir\\x.xml\" $HOME `touch PWNED` #x ~ [a] * ? ; ' !\" "
       "> null 2>nul",
       0,
       Arguments{"-f", "C:/Host Dir/x.xml", "$HOME", "`touch", "PWNED`", "#x", "~", "[a]", "*", "?",
                 ";", "'", "!"},
       {{"null", "out\n"}}},
      // The line is Windows-1252 (0xDC) and the variable's value is taken
      // as it is; undefined names and "%%" stay; carets escape outside
      // quotes only.
      {"qlxrec %qlx_value% \xDC %QLX_UNSET% 100%% %%QLX_VALUE%% a^&b ^\"c d^\" \"e^f\" ^> >r.txt "
       "2>&1",
       0,
       Arguments{u_umlaut, u_umlaut, "%QLX_UNSET%", "100%%", "%" + u_umlaut + "%", "a&b", "c d",
                 "e^f", ">"},
       {{"r.txt", "out\nerr\n"}}},
      // An argument or a redirection on a mapped drive names the Linux
      // file, found without regard to case; anything else stays as written.
      {"qlxrec \"q:\\SUB DIR\\..\\IN.txt\" Q:\\sub dir Q:\\..\\In.Txt Z:\\in.txt -Q:\\in.txt "
       "Q:\\none\\x Q:in.txt 2> \"q:\\Sub Dir\\E.txt\"",
       0,
       Arguments{q_drive + "/in.txt", q_drive + "/sub", "dir", q_drive + "/in.txt", "Z:/in.txt",
                 "-Q:/in.txt", "Q:/none/x", "Q:in.txt"},
       {{"sub dir/E.txt", "err\n"}}},
      {"qlxrec \"a & b | c\" 1>one.txt 2>two.txt",
       0,
       Arguments{"a & b | c"},
       {{"one.txt", "out\n"}, {"two.txt", "err\n"}}},
      {"qlxrec >>appended.txt 2>> appended.err",
       0,
       Arguments{},
       {{"appended.txt", "old\nout\n",
         fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read},
        {"appended.err", "err\n"}}},
      {"qlxrec 1>>\"sub dir\\new.txt\" 2>nul > truncated.txt",
       0,
       Arguments{},
       {{"sub dir/new.txt", ""},
        {"truncated.txt", "out\n",
         fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read}}},
      {"qlxrec -cat <in.txt > copy.txt 2>&1", 0, Arguments{"-cat"}, {{"copy.txt", "in\nerr\n"}}},
      // A redirection that cannot be opened runs nothing.
      {"qlxrec > missing\\x.txt", 1, std::nullopt, {}},
      {"qlxrec < absent.txt > never.txt", 1, std::nullopt, {{"never.txt", std::nullopt}}},
      // The working directory comes before PATH, for executable files only.
      {"qlxwhich > which.txt", 0, std::nullopt, {{"which.txt", "cwd\n"}}},
      {"qlxpathonly > which.txt", 0, std::nullopt, {{"which.txt", "path\n"}}},
      {"qlx-nowhere -r > nowhere.txt 2>nowhere.err",
       9009,
       std::nullopt,
       {{"nowhere.txt", ""},
        {"nowhere.err",
         "'qlx-nowhere' is not recognized as an internal or external command, operable program "
         "or batch file.\n"}}},
      // One program a line: "&" and "|" are refused before anything runs.
      {"qlxrec a & qlxrec b > amp.txt", 1, std::nullopt, {{"amp.txt", std::nullopt}}},
      {"qlxrec a || qlxrec b", 1, std::nullopt, {}},
      {"qlxrec a | qlxrec b", 1, std::nullopt, {}},
  };
  for (const auto& c : cases) {
    const platform::Result<uint32_t> outcome = Run("cmd /c " + c.request);
    EXPECT_TRUE(outcome) << c.request;
    EXPECT_EQ(outcome.value_or(~0u), c.code) << c.request;
    EXPECT_EQ(RecordedArguments(), c.arguments) << c.request;
    for (const File& file : c.files) {
      const fs::path path = temporary_.path() / file.name;
      EXPECT_EQ(fs::exists(path), file.contents.has_value()) << c.request << ": " << file.name;
      if (!file.contents || !fs::exists(path)) continue;
      EXPECT_EQ(ReadBytes(path), *file.contents) << c.request << ": " << file.name;
      EXPECT_EQ(fs::status(path).permissions(), file.mode) << c.request << ": " << file.name;
    }
  }
}

TEST_F(ProcessesTest, ChildInheritsNoOpenFileOfOurs) {
  const std::string path = scripts_ / "open.txt";
  WriteBytes(path, "x");
  const platform::UniqueFile open_file(std::fopen(path.c_str(), "r"));
  ASSERT_TRUE(open_file);
  const std::string test = "sh -c \"test -e /proc/$$/fd/" +
                           std::to_string(fileno(open_file.get())) + " -o -e /proc/$$/fd/3\"";

  // Directly, and through the interpreter with redirection files open.
  for (const std::string& line : {test, "cmd /c " + test + " > out.txt 2>&1"}) {
    const platform::Result<uint32_t> outcome = Run(line);
    EXPECT_TRUE(outcome) << line;
    EXPECT_EQ(outcome.value_or(~0u), 1u) << line << " gave the child a descriptor of ours";
  }
}

// The password tool's line runs in the private directory: a program planted
// in our current directory is never taken, and its relative files land there.
TEST_F(ProcessesTest, CommandInterpreterLineNeverTakesAProgramFromTheCurrentDirectory) {
  ScratchDirectory current;
  WriteBytes(current.path() / "hostname", "#!/bin/sh\ntouch PLANTED\n");
  fs::permissions(current.path() / "hostname", fs::perms::owner_all);
  ScopedCurrentDirectory in_current(current.path());

  platform::SystemProcesses().RunCommandInterpreter("hostname > host.txt");

  EXPECT_FALSE(fs::exists(current.path() / "PLANTED"));
  EXPECT_FALSE(fs::exists(current.path() / "host.txt"));
  EXPECT_NE(ReadBytes(temporary_.path() / "host.txt"), "");
}

}  // namespace
}  // namespace qlx::posix_tests
