#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "config/host_paths.h"
#include "config/properties_file.h"
#include "database/ktr_database_interface.h"
#include "database/ktr_exception.h"
#include "driver/patch_log.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/processes.h"

namespace qlx {
namespace {

// The password tool's output files can hold the password in clear text, so
// they are deleted on every way out, early returns and errors included.
class OutputFiles {
 public:
  OutputFiles() = default;
  OutputFiles(const OutputFiles&) = delete;
  OutputFiles& operator=(const OutputFiles&) = delete;
  ~OutputFiles() {
    for (const std::string& path : paths_) platform::Current().files->Remove(path);
  }
  void Add(const std::string& path) {
    if (std::find(paths_.begin(), paths_.end(), path) == paths_.end()) paths_.push_back(path);
  }

 private:
  std::vector<std::string> paths_;
};

void RunCommand(const std::string& line) {
  platform::Current().processes->RunCommandInterpreter(line);
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// The file's text with every white-space character removed.
bool ReadWithoutWhiteSpace(const std::string& path, bool first_line_only, std::string* text) {
  bool opened = false;
  *text = ReadWholeText(path, &opened);
  if (!opened) return false;
  if (first_line_only) *text = FirstLine(*text);
  RemoveWhiteSpace(*text);
  return true;
}

// The host name and the key are pasted into the next command line as they
// are. A text holding a character the command interpreter acts on would run
// more than the password tool, so such output is not used.
bool SafeInCommandLine(const std::string& text) {
  constexpr char kInterpreterCharacters[] = "&|<>^%\"'`$;()\\!*?";
  for (unsigned char c : text) {
    if (c < 0x21 || c > 0x7E) return false;
    if (std::strchr(kInterpreterCharacters, c)) return false;
  }
  return true;
}

}  // namespace

std::string KTRDatabaseInterface::GetPassword() {
  LogModuleMessage("KTRDatabaseInterface", "GetPassword()");
  const std::string add_on_directory = AddOnDirectory();
  const std::string first_output = add_on_directory + "\\pass1.txt";
  OutputFiles output_files;
  output_files.Add(first_output);
  output_files.Add(add_on_directory + "\\pass2.txt");

  uint32_t open_error = 0;
  if (!platform::Current().files->Open(HostDirectory() + "\\config\\database.props", "r",
                                       &open_error)) {
    throw CKTRException(CKTRException::kSettingsFileNotOpened, open_error);
  }

  std::string host_name;
  RunCommand("hostname > " + Quoted(first_output));
  if (!ReadWithoutWhiteSpace(first_output, true, &host_name)) return "";
  if (!SafeInCommandLine(host_name)) return "";

  std::string key;
  RunCommand("zqpassword -e " + host_name + " > " + Quoted(first_output));
  if (!ReadWithoutWhiteSpace(first_output, false, &key)) return "";
  if (!SafeInCommandLine(key)) return "";
  platform::Current().files->Remove(first_output);

  // The directory is read afresh; should it have changed, that file goes too.
  const std::string second_output = AddOnDirectory() + "\\pass2.txt";
  output_files.Add(second_output);
  std::string password;
  RunCommand("zqpassword -l -x ZqQLXPassword -k " + key + " > " + Quoted(second_output));
  if (!ReadWithoutWhiteSpace(second_output, true, &password)) return "";

  LogModuleMessage("KTRDatabaseInterface", "password extracted");
  return password;
}

}  // namespace qlx
