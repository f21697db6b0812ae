#pragma once

namespace qlx {

// The version the patch records, and the three registry values below
// HKEY_LOCAL_MACHINE it records it in (each must exist: nothing is created).
constexpr char kNewVersion[] = "4.3.1";

struct VersionValue {
  const char* key;
  const char* name;
};

constexpr VersionValue kVersionValues[] = {
    {"Software\\OV\\Quellmark", "Build"},
    {"Software\\OV\\Quellmark", "Version"},
    {"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\OV Quellmark_is1", "DisplayVersion"},
};

}  // namespace qlx
