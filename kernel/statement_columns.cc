// Parameter and column fields of the kernel's internal statements (see
// statement_columns.h). Every number and offset is checked against the
// descriptor and the storage block before a byte is read or written.
#include "kernel/statement_columns.h"

#include <algorithm>
#include <cstring>

#include "kernel/control_blocks.h"
#include "kernel/system_block.h"
#include "platform/char_format.h"
#include "platform/packed_decimal.h"

int32_t StatementField(int32_t* base, int32_t stm, bool output, int32_t n, uint8_t** field,
                       int32_t* length) {
  if (!InStorage(base, stm, STM_WORDS)) return KERNEL_BAD_PARAMETER;
  const int32_t com = Wd(base, stm, STM_ACTIVE_COM);
  if (!InStorage(base, com, COM_DBGINF + 1)) return KERNEL_BAD_PARAMETER;
  const int32_t sd = Wd(base, com, COM_SD), stg = Wd(base, com, COM_STG);
  if (!InStorage(base, sd, SD_MIN_WORDS)) return KERNEL_BAD_PARAMETER;
  const int32_t table = output ? SD_OUTPUT_TABLE : SD_INPUT_TABLE;
  const int64_t offset = Wd(base, sd, table), count = Wd(base, sd, table + 1);
  if (n < 1 || n > count || offset < 0) return KERNEL_BAD_PARAMETER;
  const int64_t entry = sd + offset + 2 * int64_t{n - 1};
  if (!InStorage(base, entry, 2)) return KERNEL_BAD_PARAMETER;
  const int64_t at = sqlpool_word(base, entry), len = sqlpool_word(base, entry + 1);
  const int64_t stg_bytes = 4 * int64_t{Wd(base, sd, SD_STORAGE_WORDS)};
  if (at < 0 || len < 1 || at + len > stg_bytes || !InStorage(base, stg, (stg_bytes + 3) / 4))
    return KERNEL_BAD_PARAMETER;
  *field = reinterpret_cast<uint8_t*>(&sqlpool_word(base, stg)) + at;
  *length = static_cast<int32_t>(len);
  return 0;
}

namespace {

value_descriptor NumberOf(int32_t length) {
  value_descriptor v;
  v.precision = std::clamp(2 * length - 3, 1, kDecimalMaxPrecision);
  return v;
}

// The column's value bytes into buffer+position unless null.
void CopyValue(int32_t* base, int32_t* status, int32_t stm, int32_t n, uint8_t* buffer,
               int32_t position) {
  uint8_t* f;
  int32_t len;
  *status = StatementField(base, stm, true, n, &f, &len);
  if (*status != 0) return;
  if (f[0] == 255) {
    *status = COLUMN_NULL;
    return;
  }
  if (position < 0) {
    *status = KERNEL_BAD_PARAMETER;
    return;
  }
  std::memcpy(buffer + position, f + 1, len - 1);
}

// A varying column: the value in field `n`, its length in field `n + 1`.
// False, with the status set, when either field is out of reach, the place
// in the caller's buffer is not, or the column is null; else the value
// field and the length it holds (0 when that is unreadable), with *length
// set to 0 until the caller copies.
bool VaryingColumn(int32_t* base, int32_t* status, int32_t stm, int32_t n, int32_t position,
                   int32_t capacity, int32_t* length, uint8_t** field, int32_t* field_length,
                   int32_t* value_length) {
  uint8_t *f, *lf;
  int32_t len, llen;
  *status = StatementField(base, stm, true, n, &f, &len);
  if (*status == 0) *status = StatementField(base, stm, true, n + 1, &lf, &llen);
  if (*status == 0 && (position < 0 || capacity < position)) *status = KERNEL_BAD_PARAMETER;
  if (*status != 0) return false;
  *length = 0;
  if (f[0] == 255 || lf[0] == 255) {
    *status = COLUMN_NULL;
    return false;
  }
  int32_t l = 0;
  if (decimal_to_int(&l, ConstByteSpan(lf, llen), NumberOf(llen)) != 0) l = 0;
  *field = f;
  *field_length = len;
  *value_length = l;
  return true;
}

// Indicator 0 and the value from `bytes` (count bytes), padded with `pad`.
void PutValue(int32_t* base, int32_t* status, int32_t stm, int32_t n, const uint8_t* bytes,
              int32_t count, uint8_t pad) {
  uint8_t* f;
  int32_t len;
  *status = StatementField(base, stm, false, n, &f, &len);
  if (*status != 0) return;
  if (count < 0) {
    *status = KERNEL_BAD_PARAMETER;
    return;
  }
  const int32_t take = std::min(count, len - 1);
  f[0] = 0;
  if (take > 0) std::memcpy(f + 1, bytes, take);
  std::memset(f + 1 + take, pad, len - 1 - take);
}

}  // namespace

void DSGetColBytes(int32_t* base, int32_t* status, int32_t stm, int32_t n, uint8_t* buffer,
                   int32_t position) {
  CopyValue(base, status, stm, n, buffer, position);
}

void DSGetColChar(int32_t* base, int32_t* status, int32_t stm, int32_t n, uint8_t* buffer,
                  int32_t position) {
  CopyValue(base, status, stm, n, buffer, position);
}

void DSGetColRaw(int32_t* base, int32_t* status, int32_t stm, int32_t n, uint8_t* buffer,
                 int32_t position, int32_t* length) {
  uint8_t* f;
  int32_t len;
  *status = StatementField(base, stm, true, n, &f, &len);
  if (*status == 0 && position < 0) *status = KERNEL_BAD_PARAMETER;
  if (*status != 0) return;
  std::memcpy(buffer + position, f, len);
  *length = len;
}

void DSGetColInt(int32_t* base, int32_t* status, int32_t stm, int32_t n, int32_t* value) {
  uint8_t* f;
  int32_t len;
  *status = StatementField(base, stm, true, n, &f, &len);
  if (*status != 0) return;
  *status = decimal_to_int(value, ConstByteSpan(f, len), NumberOf(len));
}

void DSGetColInt64(int32_t* base, int32_t* status, int32_t stm, int32_t n, int32_t* high,
                   int32_t* low) {
  uint8_t* f;
  int32_t len;
  *status = StatementField(base, stm, true, n, &f, &len);
  if (*status != 0) return;
  *status = decimal_to_int64_checked(high, low, ConstByteSpan(f, len), NumberOf(len));
}

void DSGetColVar(int32_t* base, int32_t* status, int32_t stm, int32_t n, uint8_t* buffer,
                 int32_t position, int32_t capacity, int32_t* length) {
  uint8_t* f;
  int32_t len, l;
  if (!VaryingColumn(base, status, stm, n, position, capacity, length, &f, &len, &l)) return;
  if (l < 1) {
    if (capacity > position) buffer[position] = ' ';
    return;
  }
  l = std::min({l, len - 1, capacity - position});
  std::memcpy(buffer + position, f + 1, l);
  *length = l;
}

void DSSetParBin(int32_t* base, int32_t* status, int32_t stm, int32_t n, const uint8_t* buffer,
                 int32_t position) {
  uint8_t* f;
  int32_t len;
  *status = StatementField(base, stm, false, n, &f, &len);
  if (*status == 0 && position < 0) *status = KERNEL_BAD_PARAMETER;
  if (*status != 0) return;
  f[0] = 0;
  std::memcpy(f + 1, buffer + position, len - 1);
}

void DSSetParText(int32_t* base, int32_t* status, int32_t stm, int32_t n, const uint8_t* buffer,
                  int32_t position) {
  DSSetParBin(base, status, stm, n, buffer, position);
}

void DSSetParInt(int32_t* base, int32_t* status, int32_t stm, int32_t n, int32_t value) {
  uint8_t* f;
  int32_t len;
  *status = StatementField(base, stm, false, n, &f, &len);
  if (*status != 0) return;
  *status = int_to_decimal(ByteSpan(f, len), NumberOf(len), value);
}

void DSSetParInt64(int32_t* base, int32_t* status, int32_t stm, int32_t n, int32_t high,
                   int32_t low) {
  uint8_t* f;
  int32_t len;
  *status = StatementField(base, stm, false, n, &f, &len);
  if (*status != 0) return;
  *status = int64_to_decimal(ByteSpan(f, len), NumberOf(len), high, low);
}

void DSSetParNull(int32_t* base, int32_t* status, int32_t stm, int32_t n) {
  uint8_t* f;
  int32_t len;
  *status = StatementField(base, stm, false, n, &f, &len);
  if (*status == 0) std::memset(f, 255, len);
}

void DSSetParPad(int32_t* base, int32_t* status, int32_t stm, int32_t n, const uint8_t* bytes,
                 int32_t position, int32_t length) {
  PutValue(base, status, stm, n, bytes + std::max(position, 0), length, 0);
}

void DSSetParChar(int32_t* base, int32_t* status, int32_t stm, int32_t n, const uint8_t* bytes,
                  int32_t position, int32_t length) {
  PutValue(base, status, stm, n, bytes + std::max(position, 0), length, ' ');
}

void DSSetParVar(int32_t* base, int32_t* status, int32_t stm, int32_t n, const uint8_t* bytes,
                 int32_t position, int32_t length) {
  PutValue(base, status, stm, n, bytes + std::max(position, 0), length, ' ');
  if (*status == 0) DSSetParInt(base, status, stm, n + 1, length);
}

void DSGetColNum(int32_t* base, int32_t* status, int32_t stm, int32_t n, uint8_t* buffer,
                 int32_t position, int32_t capacity, int32_t* length) {
  uint8_t* f;
  int32_t len, l;
  if (!VaryingColumn(base, status, stm, n, position, capacity, length, &f, &len, &l)) return;
  if (l < 1) {
    if (capacity - position >= 3) {
      buffer[position] = buffer[position + 1] = 0;
      buffer[position + 2] = ' ';
    }
    return;
  }
  l = std::min({int64_t{l}, int64_t{len - 1} / 3, int64_t{capacity - position} / 3});
  std::memcpy(buffer + position, f + 1, 3 * size_t(l));
  *length = l;
}

void DSSetParNVar(int32_t* base, int32_t* status, int32_t stm, int32_t n, const uint8_t* chars,
                  int32_t position, int32_t length) {
  uint8_t* f;
  int32_t len;
  *status = StatementField(base, stm, false, n, &f, &len);
  if (*status == 0 && (position < 0 || length < 0 || length > (1 << 28)))
    *status = KERNEL_BAD_PARAMETER;
  if (*status != 0) return;
  const int32_t rc = charenc_to_units3(
      ByteSpan(f, len), 1, len - 1,
      ConstByteSpan(chars + 3 * int64_t{position}, 3 * size_t(length)), 0, 3 * length, 3);
  // A text that had to be cut (1) is refused like a bad one: the length
  // parameter would name characters that are not there.
  if (rc != 0) {
    *status = rc;
    return;
  }
  f[0] = 0;
  DSSetParInt(base, status, stm, n + 1, length);
}
