#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_system.h"

// Passes every call on to another file system; a test derives from it and
// overrides only the calls it watches.
class PassThroughFileSystem : public FileSystem {
 public:
  explicit PassThroughFileSystem(FileSystem& base) : base_(base) {}

  int Open(const std::string& path, Create create, bool writable, int* handle) override {
    return base_.Open(path, create, writable, handle);
  }
  int Close(int handle) override { return base_.Close(handle); }
  int LockExclusive(int handle) override { return base_.LockExclusive(handle); }
  int ReadAt(int handle, int64_t offset, void* buffer, size_t count, size_t* done) override {
    return base_.ReadAt(handle, offset, buffer, count, done);
  }
  int WriteAt(int handle, int64_t offset, const void* buffer, size_t count, size_t* done) override {
    return base_.WriteAt(handle, offset, buffer, count, done);
  }
  int SyncData(int handle) override { return base_.SyncData(handle); }
  int Truncate(int handle, int64_t size) override { return base_.Truncate(handle, size); }
  int Allocate(int handle, int64_t offset, int64_t length) override {
    return base_.Allocate(handle, offset, length);
  }
  int Size(int handle, int64_t* size) override { return base_.Size(handle, size); }
  int Remove(const std::string& path) override { return base_.Remove(path); }
  int SyncDirectory(const std::string& dir) override { return base_.SyncDirectory(dir); }
  bool Exists(const std::string& path) override { return base_.Exists(path); }
  int ListDirectory(const std::string& dir, std::vector<std::string>* names) override {
    return base_.ListDirectory(dir, names);
  }

 protected:
  FileSystem& base_;
};
