// The home directory of a new database. The directory itself is made and
// removed with mkdir and rmdir; the files in it are listed and removed
// through the file system the databank files use, so that a test's fault
// file system sees the same directory the databank kernel wrote.
#include "tools/hbcreate/home_directory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/databank_io.h"
#include "platform/file_system.h"

namespace {

FileSystem& CurrentFileSystem() {
  FileSystem* fs = mdr_install_file_system(nullptr);
  mdr_install_file_system(fs);
  return fs != nullptr ? *fs : PosixFileSystem();
}

}  // namespace

std::string HomePath(const std::string& dir, const std::string& name) {
  return !dir.empty() && dir.back() == '/' ? dir + name : dir + "/" + name;
}

bool MakeHomeDirectory(const std::string& dir, bool* made, std::string* error) {
  *made = false;
  if (::mkdir(dir.c_str(), 0700) == 0) {
    *made = true;
    return true;
  }
  const int err = errno;
  std::vector<std::string> names;
  if (err == EEXIST && CurrentFileSystem().ListDirectory(dir, &names) == 0 && names.empty())
    return true;
  *error = "cannot make the home directory " + dir + ": " +
           (err == EEXIST ? std::string("it is not an empty directory") : std::strerror(err));
  return false;
}

bool RemoveHomeDirectory(const std::string& dir, bool made) {
  FileSystem& fs = CurrentFileSystem();
  std::vector<std::string> names;
  bool clean = fs.ListDirectory(dir, &names) == 0;
  for (const std::string& name : names) clean = fs.Remove(HomePath(dir, name)) == 0 && clean;
  if (fs.SyncDirectory(dir) != 0) clean = false;
  if (made && ::rmdir(dir.c_str()) != 0) clean = false;
  return clean;
}
