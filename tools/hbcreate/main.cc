// hbcreate: creates a new database with the server's own databank kernel and
// dictionary code. This program checks its arguments, reads and scrambles
// the administrator's password and checks the registry and home directory;
// the creation steps themselves are not built yet, and it says so with exit
// status 1 instead of pretending a database was made.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "tools/hbcreate/create_args.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  CreateOptions options;
  std::string error;
  if (!ParseCreateArgs(args, &options, &error)) {
    std::fprintf(stderr, "hbcreate: %s\n%s", error.c_str(), kCreateUsage);
    return 1;
  }
  uint8_t scrambled[kPasswordBytes];
  bool read;
  if (options.password_stdin) {
    read = ReadScrambledPassword(std::cin, options.admin, scrambled, &error);
  } else {
    std::ifstream file(options.password_file);
    if (!file) {
      std::fprintf(stderr, "hbcreate: cannot read %s\n", options.password_file.c_str());
      return 1;
    }
    read = ReadScrambledPassword(file, options.admin, scrambled, &error);
  }
  if (!read || !CheckCreateTarget(options, &error)) {
    std::fprintf(stderr, "hbcreate: %s\n", error.c_str());
    return 1;
  }
  std::fprintf(stderr,
               "hbcreate: the creation of databank files, catalog tables and rows is not all "
               "built yet; nothing was created\n");
  return 1;
}
