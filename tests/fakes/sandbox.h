#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "fakes/fake_platform.h"
#include "platform/platform.h"

namespace qlx::testing {

constexpr char kHostKey[] = "SOFTWARE\\Orvanta\\Vantline\\Settings";
constexpr char kAddOnKey[] = "SOFTWARE\\OV\\Quellmark";
constexpr char kUninstallKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\OV Quellmark_is1";

// A host installation with every platform facility faked, in force while the
// object lives: the registry names the host's ("C:\qlx\host") and the
// add-on's ("C:\qlx\addon") directories and holds the three version values,
// the service "OV Quellmark" is running, and the current directory is C:\qlx.
class FakeHost {
 public:
  FakeHost();
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;

  // Hands the plan to every fake, so that its Nth call fails.
  void InjectFaults(FaultPlan& plan);

  // A file below C:\qlx, named with slashes ("host/config/database.props").
  void WriteFile(const std::string& relative_path, const std::string& content);
  bool FileExists(const std::string& relative_path) const;
  // The file's content, or "" when there is none.
  std::string ReadFile(const std::string& relative_path) const;
  std::string Log() const { return ReadFile("QLX_patch.log"); }

  static std::string HostDirectory() { return "C:\\qlx\\host"; }
  static std::string AddOnDirectory() { return "C:\\qlx\\addon"; }

  FakeRegistry registry;
  FakeServices services;
  FakeProcesses processes;
  FakeDatabase database;
  FakeMessages messages;
  FakeFiles files;

 private:
  platform::ScopedFacilities facilities_;
};

// A test on a fresh FakeHost, its parts under the names the tests use.
class SandboxTest : public ::testing::Test {
 protected:
  void WriteFile(const std::string& relative_path, const std::string& content) {
    host_.WriteFile(relative_path, content);
  }
  bool FileExists(const std::string& relative_path) const {
    return host_.FileExists(relative_path);
  }
  std::string ReadFile(const std::string& relative_path) const {
    return host_.ReadFile(relative_path);
  }
  std::string Log() const { return host_.Log(); }
  static std::string HostDirectory() { return FakeHost::HostDirectory(); }
  static std::string AddOnDirectory() { return FakeHost::AddOnDirectory(); }

  FakeHost host_;
  FakeRegistry& registry_ = host_.registry;
  FakeServices& services_ = host_.services;
  FakeProcesses& processes_ = host_.processes;
  FakeDatabase& database_ = host_.database;
  FakeMessages& messages_ = host_.messages;
  FakeFiles& files_ = host_.files;
};

}  // namespace qlx::testing
