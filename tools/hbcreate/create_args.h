// The arguments of hbcreate, the tool that creates a new database, and the
// checks made before anything is created: the command line, the password
// (read from standard input or a file, never from the arguments, and kept
// only scrambled), the registry section and the home directory.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "platform/password_scramble.h"

inline constexpr int32_t kCreateMaxPassword = kPasswordBytes;  // 18 characters
inline constexpr int32_t kCreateMaxName = 128;
inline constexpr int32_t kCreateMaxUnits = 1 << 20;
inline constexpr int32_t kCreateDefaultUnits = 64;

struct CreateOptions {
  std::string home;
  std::string admin = "SYSADM";
  std::string database;  // upper case
  bool password_stdin = false;
  std::string password_file;
  // Units of each databank file at creation.
  int32_t sysdb_units = kCreateDefaultUnits;
  int32_t transdb_units = kCreateDefaultUnits;
  int32_t logdb_units = kCreateDefaultUnits;
  int32_t workdb_units = kCreateDefaultUnits;
};

// Parses the arguments after the program name. False with *error set on the
// first fault; nothing is read or created.
bool ParseCreateArgs(const std::vector<std::string>& args, CreateOptions* options,
                     std::string* error);

// Reads the password (its first line, without the line end) and stores its
// scrambled form with the administrator's name, as an ident's password is
// stored. The plain text goes to *plain only when asked for (the
// creation's verification logs in with it; the caller wipes it); otherwise
// it is wiped before returning. False for a password of no characters or
// more than 18.
bool ReadScrambledPassword(std::istream& in, const std::string& admin,
                           uint8_t scrambled[kPasswordBytes], std::string* error,
                           std::string* plain = nullptr);

// Overwrites the text's characters with zeros.
void WipePassword(std::string* text);

// The database's registry section must not exist and the home directory
// must be missing or empty.
bool CheckCreateTarget(const CreateOptions& options, std::string* error);

// The registry key path of a database's section.
std::string DatabaseRegistryKey(const std::string& database);

extern const char kCreateUsage[];
