// Feeds arbitrary bytes to the properties scan and to the query time-out
// reader: neither may crash, read out of bounds or give a time-out of 0 or
// below.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "config/properties_file.h"
#include "database/ktr_database_interface.h"
#include "fakes/fake_platform.h"
#include "platform/platform.h"

namespace {

constexpr char kAddOnDirectory[] = "C:\\addon";
constexpr char kTimeoutFile[] = "C:\\addon\\Query_Timeout.txt";

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
  static qlx::testing::FakeFiles files;
  static qlx::platform::ScopedFacilities facilities(
      qlx::platform::Facilities{&registry, nullptr, nullptr, nullptr, nullptr, &files});
  registry.SetString("SOFTWARE\\OV\\Quellmark", "ExtensionBase", kAddOnDirectory);

  const std::string text(reinterpret_cast<const char*>(data), size);
  files.Put(kTimeoutFile, text);
  ScanAll(kTimeoutFile);
  qlx::KTRDatabaseInterface session;
  if (session.GetQueryTimeout() <= 0) std::abort();

  if (qlx::ParseDigits(text) < 0) std::abort();
  return 0;
}
