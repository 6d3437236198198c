// DSGetDiagRecord and DSLogRecText (see diagnostics.h).
#include <algorithm>
#include <cstring>
#include <string>

#include "interp/conditions.h"
#include "interp/diagnostics.h"
#include "interp/message_statements.h"
#include "interp/program_layout.h"
#include "interp/opcode_table.h"
#include "interp/request_services.h"
#include "kernel/control_blocks.h"
#include "kernel/diagnostics_area.h"
#include "kernel/system_block.h"

namespace interp {
namespace {

constexpr int32_t kNotInitialised = -14002;
constexpr char kSeparator = static_cast<char>(255);
constexpr int32_t kKindTable = -2;

// Bits of a return vector's bit vector (bit k is 1 << k).
constexpr int32_t kBitOpcode = 1 << 1;
constexpr int32_t kBitDatabank = 1 << 2;
constexpr int32_t kBitTable = 1 << 3;
constexpr int32_t kBitPosition = 1 << 4;

// The substitution text without its item letters: the part before the
// first tab is dropped, each later part that ends at a tab loses the tab
// and the letter before it, the rest after the last tab is kept whole.
int32_t WithoutLetters(const char* in, int32_t n, char* out) {
  const char* tab = static_cast<const char*>(std::memchr(in, '\t', static_cast<size_t>(n)));
  if (tab == nullptr) {
    std::memcpy(out, in, static_cast<size_t>(n));
    return n;
  }
  int32_t length = 0;
  int32_t from = static_cast<int32_t>(tab - in) + 1;
  for (;;) {
    const char* next =
        static_cast<const char*>(std::memchr(in + from, '\t', static_cast<size_t>(n - from)));
    if (next == nullptr) {
      std::memcpy(out + length, in + from, static_cast<size_t>(n - from));
      return length + n - from;
    }
    const int32_t part = static_cast<int32_t>(next - in) - from;
    const int32_t keep = std::max(part - 1, 0);
    std::memcpy(out + length, in + from, static_cast<size_t>(keep));
    length += keep;
    from += part + 1;
  }
}

void FromVector(int32_t* base, int32_t usr, const int32_t* rvec, int32_t* block,
                int32_t* position, int32_t* length, char* text) {
  block[2] = rvec[0];
  *position = -1;
  *length = 0;
  DSLogRecText(base, usr, rvec, text, kDiagTextMax, length);
}

}  // namespace

void DSLogRecText(int32_t* base, int32_t usr, const int32_t* rvec, char* text, int32_t capacity,
                  int32_t* length) {
  std::string out;
  const auto item = [&](const std::string& s) {
    if (!out.empty()) out += kSeparator;
    out += s;
  };
  const int32_t bits = rvec[kStateBitVector];
  const int32_t lid = rvec[kStateLid], sequence = rvec[kStateSequence];
  if ((bits & kBitDatabank) != 0) {
    std::string first, second;
    if (DSCatalogNames(base, usr, sequence, lid, 0, &first, &second) == 0) {
      item(first + kSeparator + second);
    } else if (lid == 1) {
      item(std::string("SYSDB") + kSeparator + "sysdb9.dbf");
    } else {
      std::string s = "DBANKID=" + std::to_string(lid);
      if (sequence != -1) s += ", SEQNO=" + std::to_string(sequence);
      item(s);
    }
  }
  if ((bits & kBitTable) != 0) {
    std::string schema, table;
    const int32_t id = rvec[kStateTable];
    if (DSCatalogNames(base, usr, kKindTable, id, 0, &schema, &table) == 0)
      item(schema + "." + table);
    else
      item("TABLEID=" + std::to_string(id));
  }
  if ((bits & kBitOpcode) != 0) {
    const int32_t op = rvec[kStateOpcode];
    item(IsOpcode(op) ? std::string(kOpcodes[op].name) : "OPCODE=" + std::to_string(op));
  }
  if ((bits & kBitPosition) != 0) item(std::to_string(rvec[kStateResume]));
  const int32_t take = std::clamp(capacity - *length, 0, static_cast<int32_t>(out.size()));
  std::memcpy(text + *length, out.data(), static_cast<size_t>(take));
  *length += take;
}

void DSGetDiagRecord(int32_t* base, int32_t* block, int32_t* position, int32_t* length,
                     char* text) {
  const int32_t n = block[0];
  const int32_t usr = block[1];
  *position = -1;
  *length = 0;
  const int32_t sys = KernelSys(base);
  if (sys == 0) {
    block[0] = 0;
    block[2] = kNotInitialised;
    return;
  }
  if (usr == 0 || !InStorage(base, usr, USR_WORDS)) {
    block[0] = 0;
    FromVector(base, 0, &Wd(base, sys, SYS_RVEC), block, position, length, text);
    return;
  }
  const int32_t count = Wd(base, usr, USR_TOTAL_ERROR_COUNT);
  if (count == 0) {
    block[0] = 0;
    FromVector(base, usr, &Wd(base, usr, USR_RVEC_RCODE), block, position, length, text);
    return;
  }
  const int32_t record = n >= 1 && n <= count ? DSFindDiagRecord(base, usr, n) : 0;
  if (record == 0) {
    block[0] = 0;
    return;
  }
  const int32_t native = Wd(base, record, DIAREC_NATIVE);
  *position = Wd(base, record, DIAREC_POSITION);
  block[2] = native;
  if (IsPackedState(native)) {
    block[2] = kPackedNative;
  } else {
    // The text lies behind the record's fixed words; the record in the
    // session block has none.
    int32_t& stored = Wd(base, record, DIAREC_TEXT_LENGTH);
    if (stored > kDiagTextMax) stored = kDiagTextMax;
    const int32_t bytes = record == usr + USR_DIA_NEXT ? 0 : std::max(stored, 0);
    if (bytes > 0 && InStorage(base, int64_t{record} + DIAREC_TEXT, (bytes + 3) / 4)) {
      *length = WithoutLetters(reinterpret_cast<const char*>(&Wd(base, record, DIAREC_TEXT)),
                               bytes, text);
    } else if (n == 1) {
      DSLogRecText(base, usr, &Wd(base, usr, USR_RVEC_RCODE), text, kDiagTextMax, length);
    }
  }
  block[0] = n < count ? n + 1 : 0;
}

}  // namespace interp
