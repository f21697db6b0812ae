#include "fakes/sandbox.h"

#include <algorithm>

#include "platform/interruption.h"

namespace qlx::testing {
namespace {

constexpr char kRoot[] = "C:\\qlx";

std::string PathBelowRoot(std::string relative_path) {
  std::replace(relative_path.begin(), relative_path.end(), '/', '\\');
  return std::string(kRoot) + "\\" + relative_path;
}

}  // namespace

FakeHost::FakeHost()
    : facilities_(
          platform::Facilities{&registry, &services, &processes, &database, &messages, &files}) {
  files.current_directory = kRoot;
  for (const char* directory : {"host\\config", "host\\Tools", "addon"}) {
    files.AddDirectory(PathBelowRoot(directory));
  }
  registry.SetString(kHostKey, "InstallPath", HostDirectory());
  registry.SetString(kAddOnKey, "ExtensionBase", AddOnDirectory());
  registry.SetString(kAddOnKey, "Build", "4.2.0.1234");
  registry.SetString(kAddOnKey, "Version", "4.2.0");
  registry.SetString(kUninstallKey, "DisplayVersion", "4.2.0");
  services.running["OV Quellmark"] = true;
  // Whatever an earlier test left: no interruption has come.
  platform::BeginRun();
}

void FakeHost::InjectFaults(FaultPlan& plan) {
  registry.faults = &plan;
  services.faults = &plan;
  processes.faults = &plan;
  database.faults = &plan;
  messages.faults = &plan;
  files.faults = &plan;
}

void FakeHost::WriteFile(const std::string& relative_path, const std::string& content) {
  files.Put(PathBelowRoot(relative_path), content);
}

bool FakeHost::FileExists(const std::string& relative_path) const {
  return files.Exists(PathBelowRoot(relative_path));
}

std::string FakeHost::ReadFile(const std::string& relative_path) const {
  return files.Get(PathBelowRoot(relative_path)).value_or("");
}

}  // namespace qlx::testing
