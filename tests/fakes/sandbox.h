#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "fakes/fake_platform.h"
#include "platform/platform.h"

namespace qlx::testing {

constexpr char kHostKey[] = "SOFTWARE\\Orvanta\\Vantline\\Settings";
constexpr char kAddOnKey[] = "SOFTWARE\\OV\\Quellmark";
constexpr char kUninstallKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\OV Quellmark_is1";

// A host installation in a temporary directory, which is also the current
// directory, with every platform facility faked: the registry names the
// host's ("host") and the add-on's ("addon") directories and holds the three
// version values; the service "OV Quellmark" is running.
class SandboxTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes a file below the sandbox ("host/config/database.props").
  void WriteFile(const std::string& relative_path, const std::string& content);
  bool FileExists(const std::string& relative_path) const;
  std::string ReadFile(const std::string& relative_path) const;

  // The log's bytes as they are on disk.
  std::string Log() const { return ReadFile("QLX_patch.log"); }
  // The bytes the log holds for entries written as the text ("\n" becomes
  // the platform's line end).
  static std::string OnDisk(const std::string& text);

  std::string HostDirectory() const { return (root_ / "host").string(); }
  std::string AddOnDirectory() const { return (root_ / "addon").string(); }

  FakeRegistry registry_;
  FakeServices services_;
  FakeProcesses processes_;
  FakeDatabase database_;
  FakeMessages messages_;

 private:
  std::filesystem::path root_;
  std::filesystem::path previous_directory_;
  std::unique_ptr<platform::ScopedFacilities> facilities_;
};

}  // namespace qlx::testing
