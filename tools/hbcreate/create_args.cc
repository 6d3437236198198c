// hbcreate's argument parsing and the checks before creation. Arguments are
// checked first, completely; the password never appears among them.
#include "tools/hbcreate/create_args.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>

#include "platform/registry.h"

const char kCreateUsage[] =
    "usage: hbcreate --home DIR [--admin NAME] (--password-stdin | --password-file FILE)\n"
    "                [--sysdb-units N] [--transdb-units N] [--logdb-units N]\n"
    "                [--workdb-units N] DBNAME\n";

namespace {

// A regular identifier: a letter, then letters, digits and _; upper-cased.
bool Identifier(const std::string& text, std::string* upper) {
  if (text.empty() || static_cast<int32_t>(text.size()) > kCreateMaxName) return false;
  if (!std::isalpha(static_cast<unsigned char>(text[0]))) return false;
  upper->clear();
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (!std::isalnum(u) && c != '_') return false;
    upper->push_back(static_cast<char>(std::toupper(u)));
  }
  return true;
}

bool Units(const std::string& text, int32_t* out) {
  if (text.empty() || text.size() > 8) return false;
  int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v < 1 || v > kCreateMaxUnits) return false;
  *out = static_cast<int32_t>(v);
  return true;
}

}  // namespace

std::string DatabaseRegistryKey(const std::string& database) {
  return std::string(REG_SQLHOSTS_KEY) + "\\" + database;
}

bool ParseCreateArgs(const std::vector<std::string>& args, CreateOptions* options,
                     std::string* error) {
  CreateOptions o;
  std::vector<std::string> seen;
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.rfind("--password", 0) == 0 && a != "--password-stdin" && a != "--password-file") {
      *error =
          "a password is never given in the arguments: use --password-stdin or --password-file";
      return false;
    }
    if (a.size() < 2 || a.compare(0, 2, "--") != 0) {
      positional.push_back(a);
      continue;
    }
    if (std::find(seen.begin(), seen.end(), a) != seen.end()) {
      *error = a + " given twice";
      return false;
    }
    seen.push_back(a);
    if (a == "--password-stdin") {
      o.password_stdin = true;
      continue;
    }
    if (i + 1 >= args.size()) {
      *error = a + " needs a value";
      return false;
    }
    const std::string& v = args[++i];
    int32_t* units = a == "--sysdb-units"     ? &o.sysdb_units
                     : a == "--transdb-units" ? &o.transdb_units
                     : a == "--logdb-units"   ? &o.logdb_units
                     : a == "--workdb-units"  ? &o.workdb_units
                                              : nullptr;
    if (a == "--home") {
      if (v.empty()) {
        *error = "--home needs a directory";
        return false;
      }
      o.home = v;
    } else if (a == "--admin") {
      if (!Identifier(v, &o.admin)) {
        *error = "--admin needs a name of 1 to 128 letters, digits and _, beginning with a letter";
        return false;
      }
    } else if (a == "--password-file") {
      o.password_file = v;
    } else if (units) {
      if (!Units(v, units)) {
        *error = a + " needs a number of units from 1 to " + std::to_string(kCreateMaxUnits);
        return false;
      }
    } else {
      *error = "unknown option " + a;
      return false;
    }
  }
  if (o.home.empty()) {
    *error = "--home is required";
  } else if (o.password_stdin == !o.password_file.empty()) {
    *error = "give exactly one of --password-stdin and --password-file";
  } else if (positional.size() != 1) {
    *error = "give exactly one database name";
  } else if (!Identifier(positional[0], &o.database)) {
    *error = "the database name must be 1 to 128 letters, digits and _, beginning with a letter";
  } else {
    *options = o;
    return true;
  }
  return false;
}

void WipePassword(std::string* text) {
  volatile char* wipe = text->data();
  for (std::size_t i = 0; i < text->size(); ++i) wipe[i] = 0;
  text->clear();
}

bool ReadScrambledPassword(std::istream& in, const std::string& admin,
                           uint8_t scrambled[kPasswordBytes], std::string* error,
                           std::string* plain) {
  std::string line;
  std::getline(in, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  // The stored password is padded with blanks, as the login pads the one it
  // is given: blanks alone would be an empty password.
  const bool fits = line.find_first_not_of(' ') != std::string::npos &&
                    static_cast<int32_t>(line.size()) <= kCreateMaxPassword;
  if (fits) {
    uint8_t password[kPasswordBytes], ident[kPasswordBytes];
    std::memset(password, ' ', sizeof password);
    std::memset(ident, ' ', sizeof ident);
    std::memcpy(password, line.data(), line.size());
    std::memcpy(ident, admin.data(), std::min<std::size_t>(admin.size(), kPasswordBytes));
    mdr_password_scramble_ident(scrambled, password, ident);
    volatile uint8_t* wipe = password;
    for (int i = 0; i < kPasswordBytes; ++i) wipe[i] = 0;
  } else {
    *error = "the password must have 1 to 18 characters, not blanks alone";
  }
  if (fits && plain != nullptr) plain->assign(line);
  WipePassword(&line);
  return fits;
}

bool CheckCreateTarget(const CreateOptions& options, std::string* error) {
  if (registry_key_exists(DatabaseRegistryKey(options.database))) {
    *error = "the database " + options.database + " is defined in the registry already";
    return false;
  }
  std::error_code ec;
  const std::filesystem::path home(options.home);
  if (std::filesystem::exists(home, ec)) {
    if (!std::filesystem::is_directory(home, ec)) {
      *error = options.home + " is not a directory";
      return false;
    }
    if (!std::filesystem::is_empty(home, ec) || ec) {
      *error = "the home directory " + options.home + " is not empty";
      return false;
    }
  }
  return true;
}
