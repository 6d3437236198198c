// Setting a statement's parameters in order until one fails, with the
// kernel's setters.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "kernel/statement_columns.h"

inline const uint8_t* DDBytes(const char* s) {
  return reinterpret_cast<const uint8_t*>(s);
}

// Sets parameters in order until one fails; the failure.
class DDParams {
 public:
  static constexpr int32_t kTextTooLong = -19113;
  DDParams(int32_t* base, int32_t stm) : base_(base), stm_(stm) {}
  DDParams& Int(int32_t n, int32_t v) {
    if (status_ == 0) DSSetParInt(base_, &status_, stm_, n, v);
    return *this;
  }
  DDParams& Int64(int32_t n, int64_t v) {  // a two-word value
    if (status_ == 0)
      DSSetParInt64(base_, &status_, stm_, n, static_cast<int32_t>(v >> 32),
                    static_cast<int32_t>(v & 0xFFFFFFFF));
    return *this;
  }
  DDParams& Null(int32_t n) {
    if (status_ == 0) DSSetParNull(base_, &status_, stm_, n);
    return *this;
  }
  DDParams& Text(int32_t n, std::string_view t) {  // blank padded
    if (status_ == 0)
      DSSetParChar(base_, &status_, stm_, n, DDBytes(t.data()), 0, static_cast<int32_t>(t.size()));
    return *this;
  }
  // n and its length n + 1; a text longer than parameter n's field is
  // refused (-19113) rather than cut to a different name.
  DDParams& TextLength(int32_t n, const char* t, int32_t length) {
    if (status_ != 0) return *this;
    uint8_t* field = nullptr;
    int32_t bytes = 0;
    if ((status_ = StatementField(base_, stm_, false, n, &field, &bytes)) == 0 && length > bytes - 1)
      status_ = kTextTooLong;
    if (status_ == 0) DSSetParVar(base_, &status_, stm_, n, DDBytes(t), 0, length);
    return *this;
  }
  DDParams& Raw(int32_t n, const uint8_t* b, int32_t length) {  // zero padded
    if (status_ == 0) DSSetParPad(base_, &status_, stm_, n, b, 0, length);
    return *this;
  }
  DDParams& Chars(int32_t n, const uint8_t* text3, int32_t length) {  // n and its length n + 1
    if (status_ == 0) DSSetParNVar(base_, &status_, stm_, n, text3, 0, length);
    return *this;
  }
  DDParams& Flag(int32_t n, bool yes) { return Text(n, yes ? "YES" : "NO "); }
  DDParams& Maybe(int32_t n, const std::optional<int64_t>& v) {  // NULL when empty
    return v ? Int(n, static_cast<int32_t>(*v)) : Null(n);
  }
  DDParams& MaybeWide(int32_t n, const std::optional<int64_t>& v) {
    return v ? Int64(n, *v) : Null(n);
  }
  int32_t status() const { return status_; }

 private:
  int32_t* base_;
  int32_t stm_;
  int32_t status_ = 0;
};

