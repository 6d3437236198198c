// The registry file's one writer: a new database's section is added to the
// file as a whole, through a temporary file renamed over the old one, under
// an exclusive lock, never over a section that exists.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/registry.h"

namespace {

bool one_line(const std::string& s) {
  return s.find_first_of("\r\n") == std::string::npos;
}

// A text value reads back as written: one line, no blank or tab at its end
// (the reader trims them).
bool reads_back(const std::string& s) {
  return one_line(s) && (s.empty() || (s.back() != ' ' && s.back() != '\t'));
}

// Holds an exclusive flock on a file for the lifetime of the object.
class FileLock {
 public:
  explicit FileLock(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~FileLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace

bool registry_add_section(const std::string& key_path,
                          const std::vector<std::pair<std::string, RegistryValue>>& values,
                          std::string* error) {
  std::ostringstream section;
  if (key_path.empty() || !one_line(key_path) || key_path.find(']') != std::string::npos) {
    *error = "bad registry key path";
    return false;
  }
  section << "[" << key_path << "]\n";
  for (const auto& [name, value] : values) {
    if (name.empty() || !one_line(name) || name.find('=') != std::string::npos) {
      *error = "bad registry value name '" + name + "'";
      return false;
    }
    if (value.type == RegistryValue::kString && reads_back(value.text)) {
      section << name << "=sz:" << value.text << "\n";
    } else if (value.type == RegistryValue::kDword) {
      section << name << "=dword:" << value.dword << "\n";
    } else {
      *error = "the value of " + name + " cannot be kept in the registry as it is";
      return false;
    }
  }
  const std::string path = registry_file_path();
  std::error_code ec;
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (!folder.empty() && !std::filesystem::exists(folder, ec)) {
    std::filesystem::create_directories(folder, ec);
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all, ec);
  }
  FileLock lock(path + ".lock");
  if (!lock.held()) {
    *error = "cannot lock " + path + ".lock: " + std::strerror(errno);
    return false;
  }
  if (registry_key_exists(key_path)) {
    *error = "the registry section " + key_path + " exists already";
    return false;
  }
  std::string old;
  {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    old = s.str();
  }
  if (!old.empty() && old.back() != '\n') old += '\n';
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << old << section.str();
    if (!out.flush()) {
      *error = "cannot write " + temp;
      std::filesystem::remove(temp, ec);
      return false;
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    *error = "cannot rename " + temp + ": " + std::strerror(errno);
    std::filesystem::remove(temp, ec);
    return false;
  }
  return true;
}
