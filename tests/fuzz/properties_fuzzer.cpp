// Feeds arbitrary bytes to the properties scan and to the query time-out
// reader: neither may crash, read out of bounds or give a time-out of 0 or
// below.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "config/properties_file.h"
#include "database/ktr_database_interface.h"
#include "fakes/fake_platform.h"
#include "platform/files.h"
#include "platform/platform.h"

namespace {

std::filesystem::path ScratchDirectory() {
  static const std::filesystem::path directory = [] {
    std::random_device random;
    auto path = std::filesystem::temp_directory_path() / ("qlx-fuzz-" + std::to_string(random()));
    std::filesystem::create_directories(path);
    return path;
  }();
  return directory;
}

void WriteBytes(const std::filesystem::path& path, const uint8_t* data, size_t size) {
  const qlx::platform::UniqueFile file(std::fopen(path.c_str(), "wb"));
  if (!file) std::abort();
  std::fwrite(data, 1, size, file.get());
}

void ScanAll(const std::string& path) {
  qlx::ScanPropertiesFile(path, [](const std::string& key, const std::string& value) {
    if (key.size() + value.size() > 199) std::abort();  // one read is one line
    if (key.find('=') != std::string::npos) std::abort();
    if (!value.empty() && qlx::IsWhiteSpace(value.back())) std::abort();
    return true;
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static qlx::testing::FakeRegistry registry;
  static qlx::platform::ScopedFacilities facilities(
      qlx::platform::Facilities{&registry, nullptr, nullptr, nullptr, nullptr});
  const std::filesystem::path directory = ScratchDirectory();
  registry.SetString("SOFTWARE\\OV\\Quellmark", "ExtensionBase", directory.string());

  WriteBytes(directory / "Query_Timeout.txt", data, size);
  ScanAll((directory / "Query_Timeout.txt").string());
  qlx::KTRDatabaseInterface session;
  if (session.GetQueryTimeout() <= 0) std::abort();

  const std::string text(reinterpret_cast<const char*>(data), size);
  if (qlx::ParseDigits(text) < 0) std::abort();
  return 0;
}
