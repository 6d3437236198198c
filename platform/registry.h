// The registry of the installation: a text file whose sections are named by
// registry key paths and hold "Name=type:value" lines. This is the reader the
// host services use for the version key and the database definitions.
//
//   [SOFTWARE\Zavor\Zavor SQL\SQLHosts\DB1]
//   Directory=sz:/srv/zavor/db1
//   Users=dword:100
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The installation's version key and the key under which each database of the
// machine is defined (one subkey per database name).
constexpr const char* REG_VERSION_KEY = "SOFTWARE\\Zavor\\Zavor SQL\\9.1";
constexpr const char* REG_SQLHOSTS_KEY = "SOFTWARE\\Zavor\\Zavor SQL\\SQLHosts";

struct RegistryValue {
  enum Type { kMissing, kString, kDword, kOther };
  Type type = kMissing;
  std::string text;    // kString: the value; kOther: the line's value as written
  uint32_t dword = 0;  // kDword
};

// The registry file: $ZAVOR_REGISTRY, else $HOME/.zavor/registry.
std::string registry_file_path();

// Whether a section of that key path exists. Key paths and value names compare
// without regard to case; a trailing "\" of a key path is ignored.
bool registry_key_exists(const std::string& key_path);

// A value of a key; kMissing when the file, the key or the value is missing.
// "dword:" takes a decimal number or 0x and hexadecimal digits within 32 bits;
// anything else there makes the value kOther, as does an unknown type prefix.
RegistryValue registry_read_value(const std::string& key_path, const std::string& name);

// Adds a new section `key_path` with `values` (name and a kString or kDword
// value) to the registry file, creating the file and its folder (mode 0700)
// when missing. The whole file is written to a temporary file renamed over
// the old one, under an exclusive lock on "<file>.lock", so that a reader
// sees the old or the new file and two writers never lose each other's
// section. False, with nothing changed and *error set, when the section
// exists already, a name or value cannot be written as one line, or the
// file cannot be written.
bool registry_add_section(const std::string& key_path,
                          const std::vector<std::pair<std::string, RegistryValue>>& values,
                          std::string* error);
