// Null fills and the plain moves of character and binary values: blank or
// 0x00 padded, with the error-raising and the warning forms of a cut, the
// session user name, and the session's random number generator.
#include <algorithm>
#include <cstring>

#include "interp/run_state.h"
#include "interp/varying.h"
#include "kernel/control_blocks.h"
#include "kernel/system_block.h"
#include "platform/char_format.h"
#include "platform/datetime.h"
#include "platform/packed_decimal.h"

namespace interp {
namespace {

void SetNull(Run& run) {  // SNV
  const int32_t at = run.op(1), n = run.op(2);
  if (n > 0) {
    if (!run.fits(at, n)) return run.fail(kErrBadOperand);
    std::memset(run.at(at), 255, static_cast<size_t>(n));
  }
  run.next();
}

void MoveBytes(Run& run) {  // MVB
  const int32_t n = run.op(3);
  if (n > 0) {
    if (!run.fits(run.op(1), n) || !run.fits(run.op(2), n)) return run.fail(kErrBadOperand);
    std::memmove(run.at(run.op(1)), run.at(run.op(2)), static_cast<size_t>(n));
  }
  run.next();
}

// MVC, MVP: indicator and data, the rest of the target padded.
template <uint8_t fill>
void MoveValue(Run& run) {
  const int32_t t = run.op(1), tl = run.op(2), s = run.op(3), sl = run.op(4);
  if (tl < 0 || sl < 0 || !run.fits(t, int64_t{tl} + 1) || !run.fits(s, int64_t{sl} + 1))
    return run.fail(kErrBadOperand);
  mdr_move_pad(run.bytes(), t, tl + 1, run.bytes(), s, sl + 1, fill);
  run.next();
}

enum class Cut { kFailNonBlank, kWarnNonBlank, kFailAny, kWarnAny };

// MTC, MCW, MTP, MTW: a fixed value into a fixed field.
template <uint8_t fill, Cut cut, bool short_too>
void MoveFixed(Run& run) {
  const int32_t t = run.op(1), tl = run.op(2), s = run.op(3), sl = run.op(4);
  if (tl < 0 || sl < 0 || !run.fits(t, int64_t{tl} + 1) || !run.fits(s, int64_t{sl} + 1))
    return run.fail(kErrBadOperand);
  if (run.at(s)[0] == 255) {  // a null value is null in every byte
    std::memset(run.at(t), 255, static_cast<size_t>(tl) + 1);
    return run.next();
  }
  bool lost = false;
  if (sl > tl) {
    const bool blanks_only = cut == Cut::kFailNonBlank || cut == Cut::kWarnNonBlank;
    lost = !blanks_only || mdr_find_byte(run.bytes(), s + 1 + tl, sl - tl, ' ') != 0;
  }
  if (lost && (cut == Cut::kFailNonBlank || cut == Cut::kFailAny)) return run.fail(kErrCharsLost);
  if (short_too && sl < tl && cut == Cut::kFailAny) return run.fail(kErrShortBinary);
  run.at(t)[0] = 0;
  mdr_move_pad(run.bytes(), t + 1, tl, run.bytes(), s + 1, sl, fill);
  if (lost) return run.warn(kWarnCut);
  if (short_too && sl < tl) return run.warn(kWarnShort);
  run.next();
}

void UserName(Run& run) {  // SUN
  const int32_t t = run.op(1), n = run.op(2);
  if (n < 0 || !run.fits(t, int64_t{n} + 1)) return run.fail(kErrBadOperand);
  static const char kBlank[128] = {};
  const uint8_t* name = reinterpret_cast<const uint8_t*>(run.user_name ? run.user_name : kBlank);
  run.at(t)[0] = 0;
  mdr_move_pad(run.bytes(), t + 1, n, ConstByteSpan(name, 128), 0, 128, ' ');
  run.next();
}

void SetSeed(Run& run) {  // RAS
  if (run.usr == 0) return run.fail(kErrBadOperand);
  int32_t seed = 0;
  const int32_t rc = decimal_to_int(&seed, run.bytes(), value_descriptor{run.op(1), run.op(2)});
  if (rc == kDecimalNull) return run.next();
  if (rc < 0) return run.fail(kDecimalErrorBase + rc);
  if (seed == 0) seed = 2147483645;
  if (seed == 2147483647) seed = 2147483646;
  run.usr_field(USR_SEED) = seed;
  run.next();
}

// Park and Miller's minimal standard generator in Schrage's form, which
// stays inside 32 bits.
int32_t NextRandom(int32_t seed) {
  int32_t next = 16807 * (seed % 127773) - 2836 * (seed / 127773);
  if (next <= 0) next += 2147483647;
  return next;
}

void Random(Run& run) {  // RAN
  if (run.usr == 0) return run.fail(kErrBadOperand);
  const int32_t seed = NextRandom(run.usr_field(USR_SEED));
  run.usr_field(USR_SEED) = seed;
  const int32_t rc = int_to_decimal(run.bytes(), value_descriptor{run.op(1), run.op(2)}, seed);
  if (rc < 0) return run.fail(kDecimalErrorBase + rc);
  run.next();
}

// Moves `n` text bytes into the value (op-given offset, length): indicator
// 0, blank padded or cut.
void PutText(Run& run, int32_t value, int32_t length, const char* text, int32_t n) {
  run.at(value)[0] = 0;
  mdr_move_pad(run.bytes(), value + 1, length,
               ConstByteSpan(reinterpret_cast<const uint8_t*>(text), static_cast<size_t>(n)), 0, n,
               ' ');
}

void Timestamp(Run& run) {  // SDT
  const int32_t v = run.op(1), n = run.op(2);
  if (n < 0 || !run.fits(v, int64_t{n} + 1)) return run.fail(kErrBadOperand);
  char now[16];
  CurrentTimestamp(run, now);
  PutText(run, v, n, now, 16);
  run.next();
}

// UOP: special register op1 into the value (op2, length op3, length field op4).
void SpecialRegister(Run& run) {
  const int32_t item = run.op(1), v = run.op(2), n = run.op(3), lf = run.op(4);
  if (n < 0 || !run.fits(v, int64_t{n} + 1) || run.usr == 0) return run.fail(kErrBadOperand);
  int32_t length_field = 0, text_field = 0;
  switch (item) {
    case 1:
      length_field = USR_CURRENT_USER_LENGTH;
      text_field = USR_CURRENT_USER;
      break;
    case 2:
      length_field = USR_CURRENT_CONNECTED_IDENT_LENGTH;
      text_field = USR_CURRENT_CONNECTED_IDENT;
      break;
    case 3:
      if (!SetVaryingNull(run, v, n, lf)) return run.fail(kErrBadOperand);
      return run.next();
    default:
      return run.fail(kErrBadOperand);  // item 4 and others: see README
  }
  const int32_t length = std::clamp(run.usr_field(length_field), 0, 128);
  PutText(run, v, n, reinterpret_cast<const char*>(&run.usr_field(text_field)), length);
  if (const int32_t rc = WriteLength(run, lf, n, std::min(length, n)); rc != 0)
    return run.fail(kLengthFieldErrorBase + rc);
  run.next();
}

enum class WideCut { kFail, kWarn, kUnchecked };

// MUS, MUW, MUC: wide characters (3 bytes each) (op3, op4 characters) into
// the wide field (op1, op2 characters).
template <WideCut cut>
void MoveWide(Run& run) {
  const int64_t t = run.op(1), tl = int64_t{run.op(2)} * 3, s = run.op(3),
                sl = int64_t{run.op(4)} * 3;
  if (tl < 0 || sl < 0 || !run.fits(t, tl + 1) || !run.fits(s, sl + 1))
    return run.fail(kErrBadOperand);
  const int32_t to = static_cast<int32_t>(t), from = static_cast<int32_t>(s);
  if (run.at(from)[0] == 255) {
    std::memset(run.at(to), 255, static_cast<size_t>(tl) + 1);
    return run.next();
  }
  run.at(to)[0] = 0;
  const int32_t rc = charenc_copy_units3(run.bytes(), to + 1, static_cast<int32_t>(tl), run.bytes(),
                                         from + 1, static_cast<int32_t>(sl));
  if (cut == WideCut::kUnchecked) return run.next();
  if (rc == kCharInvalid) return run.fail(kErrInvalidWide);
  if (rc < 0) return run.fail(kErrConvert);
  if (rc == kCharCut) {
    if (cut == WideCut::kWarn) return run.warn(kWarnCut);
    return run.fail(kErrCharsLost);
  }
  run.next();
}

}  // namespace

void CurrentTimestamp(const Run& run, char out[16]) {
  if (run.usr != 0 && Wd(run.base, run.usr, USR_SIMULATION_MODE) != 0) {
    std::memcpy(out, &Wd(run.base, run.usr, USR_SIMULATION_TIME), 16);
  } else {
    const char none[16] = {};
    DSTimestampAdd(out, 0, none);
  }
}

void InstallMoveOps(Instruction t[]) {
  t[28] = SetNull;
  t[31] = MoveValue<' '>;
  t[55] = MoveBytes;
  t[69] = UserName;
  t[70] = MoveFixed<' ', Cut::kFailNonBlank, false>;  // MTC
  t[82] = Timestamp;
  t[181] = MoveWide<WideCut::kFail>;       // MUS
  t[184] = MoveWide<WideCut::kWarn>;       // MUW
  t[195] = MoveWide<WideCut::kUnchecked>;  // MUC
  t[145] = SpecialRegister;
  t[132] = MoveFixed<' ', Cut::kWarnNonBlank, false>;  // MCW
  t[148] = MoveValue<0>;                               // MVP
  t[154] = MoveFixed<0, Cut::kFailAny, true>;          // MTP
  t[159] = SetSeed;
  t[160] = Random;
  t[162] = MoveFixed<0, Cut::kWarnAny, true>;  // MTW
}

}  // namespace interp
