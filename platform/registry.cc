// Reading the registry file: one pass over the lines, keeping the last value
// of the asked name in every section of the asked key.
#include "platform/registry.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string_view>

#include "platform/bytes.h"

namespace {

bool same_text(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (kUpperCaseTable[static_cast<uint8_t>(a[i])] != kUpperCaseTable[static_cast<uint8_t>(b[i])])
      return false;
  }
  return true;
}

std::string_view trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

std::string_view key_of(std::string_view path) {
  path = trim(path);
  if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  return path;
}

bool parse_dword(std::string_view s, uint32_t* value) {
  if (s.empty()) return false;
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  uint64_t v = 0;
  for (char c : s) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    if (v > 0xFFFFFFFFull) return false;
  }
  *value = static_cast<uint32_t>(v);
  return true;
}

RegistryValue decode(std::string_view raw) {
  RegistryValue v;
  if (raw.substr(0, 3) == "sz:") {
    v.type = RegistryValue::kString;
    v.text = std::string(raw.substr(3));
  } else if (raw.substr(0, 6) == "dword:" && parse_dword(trim(raw.substr(6)), &v.dword)) {
    v.type = RegistryValue::kDword;
  } else {
    v.type = RegistryValue::kOther;
    v.text = std::string(raw);
  }
  return v;
}

// Walks the file; for each line inside a section of `key` calls `on_line`
// with the name and raw value (name empty for the section line itself).
// False when the file cannot be read.
template <typename F>
bool scan(std::string_view key, F on_line) {
  std::ifstream in(registry_file_path());
  if (!in) return false;
  std::string line;
  bool inside = false;
  while (std::getline(in, line)) {
    std::string_view l = trim(line);
    if (l.empty() || l[0] == ';' || l[0] == '#') continue;
    if (l.front() == '[' && l.back() == ']') {
      inside = same_text(key_of(l.substr(1, l.size() - 2)), key);
      if (inside) on_line(std::string_view(), std::string_view());
      continue;
    }
    if (!inside) continue;
    size_t eq = l.find('=');
    if (eq == std::string_view::npos) continue;
    on_line(trim(l.substr(0, eq)), trim(l.substr(eq + 1)));
  }
  return true;
}

}  // namespace

std::string registry_file_path() {
  const char* path = getenv("ZAVOR_REGISTRY");
  if (path && *path) return path;
  const char* home = getenv("HOME");
  return std::string(home ? home : "") + "/.zavor/registry";
}

bool registry_key_exists(const std::string& key_path) {
  bool found = false;
  int saved = errno;
  scan(key_of(key_path), [&](std::string_view, std::string_view) { found = true; });
  errno = saved;
  return found;
}

RegistryValue registry_read_value(const std::string& key_path, const std::string& name) {
  RegistryValue result;
  int saved = errno;
  scan(key_of(key_path), [&](std::string_view n, std::string_view raw) {
    if (!n.empty() && same_text(n, trim(name))) result = decode(raw);
  });
  errno = saved;
  return result;
}
