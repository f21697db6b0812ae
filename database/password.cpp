#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "config/host_paths.h"
#include "database/ktr_database_interface.h"
#include "database/ktr_exception.h"
#include "database/password_files.h"
#include "driver/patch_log.h"
#include "platform/files.h"
#include "platform/interruption.h"
#include "platform/platform.h"
#include "platform/processes.h"
#include "platform/text.h"

namespace qlx {
namespace {

// How long a delete of an output file on the way out is retried.
constexpr std::chrono::seconds kRemoveBound{1};

// The password tool's output files can hold the password in clear text, so
// they are deleted on every way out, early returns and errors included.
class OutputFiles {
 public:
  OutputFiles() = default;
  OutputFiles(const OutputFiles&) = delete;
  OutputFiles& operator=(const OutputFiles&) = delete;
  ~OutputFiles() {
    for (const std::string& path : paths_) Remove(path);
  }
  void Add(const std::string& path) {
    if (std::find(paths_.begin(), paths_.end(), path) == paths_.end()) paths_.push_back(path);
  }
  static void Remove(const std::string& path) {
    RemovePasswordFile(path, std::chrono::steady_clock::now() + kRemoveBound);
  }

 private:
  std::vector<std::string> paths_;
};

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// Reads the output file into *text (only its first line when asked), with
// every white-space character removed. False, with *text untouched, when the
// file cannot be opened.
bool ReadWithoutWhiteSpace(const std::string& path, bool first_line_only, std::string* text) {
  const platform::Result<std::string> whole = platform::ReadWholeText(path);
  if (!whole) return false;
  *text = first_line_only ? FirstLine(*whole) : *whole;
  RemoveWhiteSpace(*text);
  return true;
}

// The host name and the key are pasted into the next command line as they
// are. A text holding a character the command interpreter acts on would run
// more than the password tool, so such output is not used.
bool SafeInCommandLine(const std::string& text) {
  constexpr char kInterpreterCharacters[] = "&|<>^%\"'`$;()\\!*?";
  for (const char c : text) {
    if (c < '!' || c > '~') return false;  // blanks, controls and every byte above 127
    if (std::strchr(kInterpreterCharacters, c)) return false;
  }
  return true;
}

// Runs the tool's line with its output redirected into the file, which the
// program creates itself first, and reads what the tool wrote (as
// ReadWithoutWhiteSpace). An interruption ends the tool and leaves the step.
bool RunAndRead(const std::string& line, const std::string& output, bool first_line_only,
                std::string* text) {
  if (!PreparePasswordFile(output)) return false;
  platform::Current().processes->RunCommandInterpreter(line);
  platform::ThrowIfInterrupted();
  return ReadWithoutWhiteSpace(output, first_line_only, text);
}

}  // namespace

std::string KTRDatabaseInterface::GetPassword() {
  LogModuleMessage("KTRDatabaseInterface", "GetPassword()");
  const std::string add_on_directory = AddOnDirectory();
  const std::string first_output = add_on_directory + "\\pass1.txt";
  OutputFiles output_files;
  output_files.Add(first_output);
  output_files.Add(add_on_directory + "\\pass2.txt");

  // The host's database settings only have to open; the file is closed again at once.
  if (const auto settings =
          platform::Current().files->Open(HostDirectory() + "\\config\\database.props", "r");
      !settings) {
    throw CKTRException(CKTRException::kSettingsFileNotOpened, settings.error());
  }

  std::string host_name;
  if (!RunAndRead("hostname > " + Quoted(first_output), first_output, true, &host_name)) return "";
  if (!SafeInCommandLine(host_name)) return "";

  std::string key;
  if (!RunAndRead("zqpassword -e " + host_name + " > " + Quoted(first_output), first_output, false,
                  &key)) {
    return "";
  }
  if (!SafeInCommandLine(key)) return "";
  OutputFiles::Remove(first_output);

  // The directory is read afresh; should it have changed, that file goes too.
  const std::string second_output = AddOnDirectory() + "\\pass2.txt";
  output_files.Add(second_output);
  std::string password;
  if (!RunAndRead("zqpassword -l -x ZqQLXPassword -k " + key + " > " + Quoted(second_output),
                  second_output, true, &password)) {
    return "";
  }

  LogModuleMessage("KTRDatabaseInterface", "password extracted");
  return password;
}

}  // namespace qlx
