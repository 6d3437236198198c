// A file system that fails the writes of one unit until disarmed: every
// write there, or only the header write that sets the close mark to 1.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "dk/databank_format.h"
#include "dk/tests/pass_through_file_system.h"

class FailingWrites : public PassThroughFileSystem {
 public:
  using PassThroughFileSystem::PassThroughFileSystem;
  int64_t fail_unit = -1;
  bool only_close_mark = false;
  bool one_file = false;  // only the file of the first failed write fails
  int failed = 0;

  // Fails the writes of `page`, or only the close mark's, or nothing.
  void Choose(bool fail_page, bool fail_mark, int64_t page) {
    fail_unit = fail_page ? page : fail_mark ? kHeaderUnit : -1;
    only_close_mark = fail_mark;
  }

  int WriteAt(int handle, int64_t offset, const void* buffer, size_t count,
              size_t* done) override {
    bool fail = fail_unit >= 0 && offset == fail_unit * kUnitBytes &&
                (!one_file || failed_handle_ < 0 || failed_handle_ == handle);
    if (fail && only_close_mark) {
      int32_t mark = 0;
      std::memcpy(&mark, static_cast<const char*>(buffer) + 4 * HDR_CLOSE_MARK, 4);
      fail = mark == CLOSE_MARK_CLOSED;
    }
    if (!fail) return base_.WriteAt(handle, offset, buffer, count, done);
    ++failed;
    failed_handle_ = handle;
    *done = 0;
    return EIO;
  }

 private:
  int failed_handle_ = -1;
};
