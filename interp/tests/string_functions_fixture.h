// A fixture for the string function instructions: byte strings and wide
// (3-byte character) strings with length fields and three decimals, written
// into the storage from C++ values and read back, around one assembled
// instruction.
#pragma once

#include <optional>
#include <string>

#include "interp/tests/interp_fixture.h"
#include "interp/varying.h"
#include "platform/packed_decimal.h"

// Byte strings S, F, T (maximum 100, 20, 20) and R (300); wide strings WS,
// WF, WT (100, 20, 20 characters) and WR (300) with length fields WSL, WFL,
// WTL, WRL; decimals A, B, P of precision 10.
inline constexpr const char* kStringFields = R"(field S varchar 100
field F varchar 20
field T varchar 20
field R varchar 300
field WS bytes 301
field WSL bytes 4
field WF bytes 61
field WFL bytes 4
field WT bytes 61
field WTL bytes 4
field WR bytes 901
field WRL bytes 4
field A decimal 10
field B decimal 10
field P decimal 10
)";

class StringFunctions : public InterpTest {
 protected:
  ByteSpan Area() {
    return ByteSpan(reinterpret_cast<uint8_t*>(storage_.data()), storage_.size() * 4);
  }
  void LoadBody(const std::string& body) {
    Load(std::string(kStringFields) + "code\n BEG\n " + body + "\n END 1\n");
  }
  // The length field of a value of that maximum (the field named NAME.len
  // for a byte string, else the one given).
  void PutLength(const std::string& field, int32_t maximum, int32_t length) {
    int_to_decimal(Area(), value_descriptor{Off(field), interp::LengthPrecision(maximum)}, length);
  }
  void PutBytes(const std::string& name, int32_t maximum, const std::optional<std::string>& v) {
    uint8_t* p = Bytes(name);
    if (!v) {
      std::memset(p, 255, static_cast<size_t>(maximum) + 1);
      return;
    }
    p[0] = 0;
    std::memset(p + 1, ' ', static_cast<size_t>(maximum));
    std::memcpy(p + 1, v->data(), v->size());
    PutLength(name + ".len", maximum, static_cast<int32_t>(v->size()));
  }
  void PutWide(const std::string& name, const std::string& length_field, int32_t maximum,
               const std::optional<std::u32string>& v) {
    uint8_t* p = Bytes(name);
    if (!v) {
      std::memset(p, 255, 3 * static_cast<size_t>(maximum) + 1);
      return;
    }
    p[0] = 0;
    for (int32_t i = 0; i < maximum; ++i) {
      const char32_t c = i < static_cast<int32_t>(v->size()) ? (*v)[static_cast<size_t>(i)] : U' ';
      p[1 + 3 * i] = static_cast<uint8_t>(c >> 16);
      p[2 + 3 * i] = static_cast<uint8_t>(c >> 8);
      p[3 + 3 * i] = static_cast<uint8_t>(c);
    }
    PutLength(length_field, maximum, static_cast<int32_t>(v->size()));
  }
  void PutNumber(const std::string& name, std::optional<int32_t> v) {
    const value_descriptor d{Off(name), 10};
    if (v)
      int_to_decimal(Area(), d, *v);
    else
      decimal_set_null(Area(), d);
  }
  // The byte string up to its length; nullopt for null.
  std::optional<std::string> GetBytes(const std::string& name, int32_t maximum) {
    if (Bytes(name)[0] == 255) return std::nullopt;
    int32_t n = 0;
    decimal_to_int(&n, Area(),
                   value_descriptor{Off(name + ".len"), interp::LengthPrecision(maximum)});
    return std::string(reinterpret_cast<const char*>(Bytes(name) + 1), static_cast<size_t>(n));
  }
  std::optional<std::u32string> GetWide(const std::string& name, const std::string& length_field,
                                        int32_t maximum) {
    if (Bytes(name)[0] == 255) return std::nullopt;
    int32_t n = 0;
    decimal_to_int(&n, Area(),
                   value_descriptor{Off(length_field), interp::LengthPrecision(maximum)});
    std::u32string s;
    for (int32_t i = 0; i < n; ++i) {
      const uint8_t* c = Bytes(name) + 1 + 3 * i;
      s.push_back(static_cast<char32_t>(c[0] << 16 | c[1] << 8 | c[2]));
    }
    return s;
  }
  std::optional<int32_t> GetNumber(const std::string& name) {
    int32_t n = 0;
    if (decimal_to_int(&n, Area(), value_descriptor{Off(name), 10}) == kDecimalNull)
      return std::nullopt;
    return n;
  }
  int32_t Code() { return rvec_[interp::kStateReturnCode]; }
};

// UTF-8 of wide text, and back.
inline std::string Utf8(const std::u32string& s) {
  std::string out;
  for (char32_t c : s) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 63));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 63));
      out += static_cast<char>(0x80 | (c & 63));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 63));
      out += static_cast<char>(0x80 | (c >> 6 & 63));
      out += static_cast<char>(0x80 | (c & 63));
    }
  }
  return out;
}
inline std::u32string FromUtf8(const std::string& s) {
  std::u32string out;
  for (size_t i = 0; i < s.size();) {
    const uint8_t b = static_cast<uint8_t>(s[i]);
    const int n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    char32_t c = n == 1 ? b : b & (0x7F >> n);
    for (int k = 1; k < n && i + k < s.size(); ++k)
      c = c << 6 | (static_cast<uint8_t>(s[i + k]) & 63);
    out.push_back(c);
    i += static_cast<size_t>(n);
  }
  return out;
}
