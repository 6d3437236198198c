// hbcreate: creates a new database with the server's own databank kernel,
// record access and dictionary code. This program parses its arguments,
// reads and scrambles the administrator's password, checks the registry and
// home directory, and hands the rest to CreateDatabase.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "tools/hbcreate/create_args.h"
#include "tools/hbcreate/create_database.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  CreateOptions options;
  std::string error;
  if (!ParseCreateArgs(args, &options, &error)) {
    std::fprintf(stderr, "hbcreate: %s\n%s", error.c_str(), kCreateUsage);
    return 1;
  }
  uint8_t scrambled[kPasswordBytes];
  std::string password;  // for the verification's login; wiped at the end
  bool read;
  if (options.password_stdin) {
    read = ReadScrambledPassword(std::cin, options.admin, scrambled, &error, &password);
  } else {
    // A directory opens as a stream but gives no line: it is refused as a
    // file that cannot be read, not as an empty password.
    std::error_code ec;
    std::ifstream file(options.password_file);
    if (!file || std::filesystem::is_directory(options.password_file, ec)) {
      std::fprintf(stderr, "hbcreate: cannot read %s\n", options.password_file.c_str());
      return 1;
    }
    read = ReadScrambledPassword(file, options.admin, scrambled, &error, &password);
    if (file.bad()) {
      std::fprintf(stderr, "hbcreate: cannot read %s\n", options.password_file.c_str());
      return 1;
    }
  }
  if (!read || !CheckCreateTarget(options, &error)) {
    std::fprintf(stderr, "hbcreate: %s\n", error.c_str());
    return 1;
  }
  const int status = CreateDatabase(options, scrambled, password, &error);
  WipePassword(&password);
  if (status != 0) {
    std::fprintf(stderr, "hbcreate: %s; nothing was created\n", error.c_str());
    return status;
  }
  std::printf("hbcreate: database %s created in %s\n", options.database.c_str(),
              options.home.c_str());
  return 0;
}
