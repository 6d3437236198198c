// DSGetFetchPos and DSGetFetchPos2 (see fetch_position.h).
#include "kernel/fetch_position.h"

#include <cstring>

#include "kernel/control_blocks.h"
#include "kernel/statement_columns.h"
#include "kernel/system_block.h"
#include "platform/packed_decimal.h"

namespace {

// The position parameter's field; 0 or -19057 (also in the session).
int32_t Field(int32_t* base, int32_t usr, int32_t stm, uint8_t** field, int32_t* length) {
  int32_t rc = FETCH_NO_POSITION;
  if (InStorage(base, stm, STM_WORDS)) {
    const int32_t com = Wd(base, stm, STM_ACTIVE_COM);
    const int32_t sd = InStorage(base, com, COM_SD + 1) ? Wd(base, com, COM_SD) : 0;
    if (InStorage(base, sd, SD_MIN_WORDS) &&
        Wd(base, sd, SD_INPUT_TABLE + 1) >= FETCH_POSITION_PARAMETER &&
        StatementField(base, stm, false, FETCH_POSITION_PARAMETER, field, length) == 0 &&
        *length >= 2)
      rc = 0;
  }
  if (rc != 0 && InStorage(base, usr, USR_WORDS)) {
    Wd(base, usr, USR_RVEC_RCODE) = rc;
    Wd(base, usr, USR_RVEC_BITVEC) = 0;
  }
  return rc;
}

value_descriptor Descriptor(int32_t length) {
  value_descriptor d;
  d.precision = 2 * length - 3;
  d.scale = 0;
  return d;
}

}  // namespace

int32_t DSGetFetchPos2(int32_t* base, int32_t usr, int32_t stm, int32_t* position) {
  uint8_t* f = nullptr;
  int32_t length = 0;
  if (const int32_t rc = Field(base, usr, stm, &f, &length); rc != 0) return rc;
  const int32_t r = decimal_to_int(position, ConstByteSpan(f, length), Descriptor(length));
  return r == 0 ? 0 : r - FETCH_CONVERSION_BIAS;
}

int32_t DSGetFetchPos(int32_t* base, int32_t step, int32_t usr, int32_t stm,
                      const int32_t* request, int32_t* request_words, int32_t* position) {
  uint8_t* f = nullptr;
  int32_t length = 0;
  if (const int32_t rc = Field(base, usr, stm, &f, &length); rc != 0) return rc;
  if (step == 0) {
    if (*request_words < 2 || length < FETCH_POSITION_BYTES) return KERNEL_BAD_PARAMETER;
    std::memcpy(f, request + *request_words - 2, FETCH_POSITION_BYTES);
    *request_words -= 2;
    const int32_t r = decimal_to_int(position, ConstByteSpan(f, length), Descriptor(length));
    return r == 0 ? 0 : r - FETCH_CONVERSION_BIAS;
  }
  int32_t now = 0;
  int32_t r = decimal_to_int(&now, ConstByteSpan(f, length), Descriptor(length));
  if (r != 0) return r - FETCH_CONVERSION_BIAS;
  const int64_t moved = int64_t{now} + step;
  *position = moved < 1 ? 1 : moved > 2147483647 ? 2147483647 : static_cast<int32_t>(moved);
  r = int_to_decimal(ByteSpan(f, length), Descriptor(length), *position);
  return r == 0 ? 0 : r - FETCH_CONVERSION_BIAS;
}
