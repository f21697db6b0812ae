// Feeds arbitrary bytes to the registry export reader as a file, and updates
// the values it finds there. No input may crash it; an update keeps every
// byte outside the value's lines, and a read of the updated file gives the
// new data. The updates are the patch's own ("4.3.1"), the data found written
// back, and the data found as a REG_SZ, which brings any byte into a string.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/posix_io.h"
#include "platform/posix/reg_file.h"
#include "platform/registry.h"

namespace {

using qlx::platform::RegistryData;
using qlx::platform::posix::RegValueDefinition;
using qlx::platform::posix::UniqueFd;

constexpr char kKey[] = "SOFTWARE\\OV\\Quellmark";
// A named value and the default value ("@").
const char* const kNames[] = {"Version", ""};

// Ends the run as a crash, saying which property failed.
void Require(bool condition, const char* property) {
  if (condition) return;
  std::fprintf(stderr, "property failed: %s\n", property);
  std::abort();
}

UniqueFd MemoryFile(const std::string& bytes) {
  UniqueFd fd(::memfd_create("export", MFD_CLOEXEC));
  Require(static_cast<bool>(fd), "a file in memory");
  Require(qlx::platform::posix::WriteAll(fd.get(), bytes.data(), bytes.size()) == 0,
          "the file written");
  return fd;
}

std::string Contents(int fd) {
  std::string bytes(static_cast<std::size_t>(::lseek(fd, 0, SEEK_END)), '\0');
  Require(::pread(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()),
          "the file read");
  return bytes;
}

RegistryData Text(const std::string& text) {
  RegistryData data;
  data.type = qlx::platform::kRegSz;
  data.bytes.assign(text.begin(), text.end());
  data.bytes.push_back(0);
  return data;
}

RegistryData AsString(RegistryData data) {
  data.type = qlx::platform::kRegSz;
  if (data.bytes.empty() || data.bytes.back() != 0) data.bytes.push_back(0);
  return data;
}

// Gives the value the data in a copy of the file, and checks the copy.
void CheckUpdate(const std::string& file, int fd, const char* name, const RegValueDefinition& found,
                 const RegistryData& data) {
  const std::string replacement = qlx::platform::posix::ReplacementLines(found, data);
  const UniqueFd out = MemoryFile("");
  const qlx::platform::posix::ReplacementCopy copy =
      qlx::platform::posix::CopyWithReplacement(fd, out.get(), kKey, name, found, replacement);
  Require(copy.error == 0 && copy.found && SameLines(*copy.found, found),
          "the copy finds the value where the search found it");
  Require(copy.bytes_copied == file.size(), "the copy reads the whole file");

  const std::string updated = Contents(out.get());
  Require(replacement.compare(0, found.name_part.size(), found.name_part) == 0,
          "the new lines keep the name as written");
  Require(updated == file.substr(0, found.begin) + replacement + file.substr(found.end),
          "every byte outside the value's lines is kept");

  const std::optional<RegValueDefinition> read =
      qlx::platform::posix::FindValueDefinition(out.get(), kKey, name);
  Require(read && read->data.type == data.type && read->data.bytes == data.bytes,
          "the updated file reads as the new data");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string file(reinterpret_cast<const char*>(data), size);
  const UniqueFd fd = MemoryFile(file);
  const bool has_key = qlx::platform::posix::ExportHasKey(fd.get(), kKey);
  for (const char* name : kNames) {
    const std::optional<RegValueDefinition> found =
        qlx::platform::posix::FindValueDefinition(fd.get(), kKey, name);
    if (!found) continue;
    Require(has_key, "the key of a value exists");
    Require(found->begin < found->end && found->end <= file.size(), "the value lies in the file");
    Require(file.compare(found->begin, found->name_part.size(), found->name_part) == 0,
            "the value's lines start with its name as written");
    for (const RegistryData& update : {Text("4.3.1"), found->data, AsString(found->data)}) {
      CheckUpdate(file, fd.get(), name, *found, update);
    }
  }
  return 0;
}
