#include "fakes/sandbox.h"

#include <fstream>
#include <random>
#include <sstream>

namespace qlx::testing {
namespace {

std::filesystem::path MakeTemporaryDirectory() {
  std::random_device random;
  const auto base = std::filesystem::temp_directory_path();
  for (;;) {
    auto candidate = base / ("qlx-test-" + std::to_string(random()));
    if (std::filesystem::create_directory(candidate)) return candidate;
  }
}

}  // namespace

void SandboxTest::SetUp() {
  root_ = MakeTemporaryDirectory();
  std::filesystem::create_directories(root_ / "host" / "config");
  std::filesystem::create_directories(root_ / "host" / "Tools");
  std::filesystem::create_directories(root_ / "addon");
  previous_directory_ = std::filesystem::current_path();
  std::filesystem::current_path(root_);

  registry_.SetString(kHostKey, "InstallPath", HostDirectory());
  registry_.SetString(kAddOnKey, "ExtensionBase", AddOnDirectory());
  registry_.SetString(kAddOnKey, "Build", "4.2.0.1234");
  registry_.SetString(kAddOnKey, "Version", "4.2.0");
  registry_.SetString(kUninstallKey, "DisplayVersion", "4.2.0");
  services_.running["OV Quellmark"] = true;

  facilities_ = std::make_unique<platform::ScopedFacilities>(
      platform::Facilities{&registry_, &services_, &processes_, &database_, &messages_});
}

void SandboxTest::TearDown() {
  facilities_.reset();
  std::filesystem::current_path(previous_directory_);
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

void SandboxTest::WriteFile(const std::string& relative_path, const std::string& content) {
  const std::filesystem::path path = root_ / relative_path;
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

bool SandboxTest::FileExists(const std::string& relative_path) const {
  return std::filesystem::exists(root_ / relative_path);
}

std::string SandboxTest::ReadFile(const std::string& relative_path) const {
  std::ifstream file(root_ / relative_path, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

std::string SandboxTest::OnDisk(const std::string& text) {
#ifdef _WIN32
  std::string converted;
  for (char c : text) {
    if (c == '\n') converted += '\r';
    converted += c;
  }
  return converted;
#else
  return text;
#endif
}

}  // namespace qlx::testing
