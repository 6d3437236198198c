// DSLogRecText (see log_record_text.h).
#include "kernel/log_record_text.h"

#include <algorithm>
#include <string>

#include "kernel/catalog_queries.h"
#include "kernel/databank_control.h"
#include "kernel/system_block.h"
#include "kernel/table_use.h"
#include "kernel/upper_services.h"

namespace {

// The location words of a result vector, from RVEC_RCODE.
constexpr int32_t kBits = 1, kOpcode = 2, kLid = 3, kSeqno = 4, kTable = 5, kPc = 6;

std::string Trimmed(const uint8_t* bytes, int32_t n) {
  std::string s(reinterpret_cast<const char*>(bytes), static_cast<size_t>(n));
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

}  // namespace

void DSLogRecText(int32_t* base, uint8_t* text, int32_t capacity, int32_t* length,
                  const int32_t* rvec) {
  if (text == nullptr || length == nullptr || rvec == nullptr || *length < 0 ||
      *length > capacity)
    return;
  std::string out;
  const std::string separator(1, static_cast<char>(LOG_TEXT_SEPARATOR));
  const int32_t bits = rvec[kBits];
  uint8_t names[OBJECT_NAME_BYTES];
  if (bits & RVEC_MASK_DATABANK) {
    const int32_t lid = rvec[kLid], seqno = rvec[kSeqno];
    if (DSGetObjectName(base, seqno, lid, names, sizeof names) == 0) {
      out += Trimmed(names + OBJECT_NAME_FIRST, OBJECT_NAME_SECOND - OBJECT_NAME_FIRST) +
             separator +
             Trimmed(names + OBJECT_NAME_SECOND, OBJECT_NAME_THIRD - OBJECT_NAME_SECOND);
    } else if (lid == 1) {
      out += "SYSDB" + separator + "sysdb9.dbf";
    } else {
      out += "DBANKID=" + std::to_string(lid);
      if (seqno != -1) out += ", SEQNO=" + std::to_string(seqno);
    }
  }
  if (bits & RVEC_MASK_TABLE) {
    out += separator;
    const int32_t table = rvec[kTable];
    if (DSGetObjectName(base, OBJECT_KIND_TABLE, table, names, sizeof names) == 0) {
      out += Trimmed(names + OBJECT_NAME_FIRST, OBJECT_NAME_SECOND - OBJECT_NAME_FIRST) + "." +
             Trimmed(names + OBJECT_NAME_SECOND, OBJECT_NAME_THIRD - OBJECT_NAME_SECOND);
    } else {
      out += "TABLEID=" + std::to_string(table);
    }
  }
  if (bits & RVEC_MASK_OPCODE) {
    out += separator;
    char name[3];
    if (UpDAOpName(rvec[kOpcode], name) == 0)
      out.append(name, 3);
    else
      out += "OPCODE=" + std::to_string(rvec[kOpcode]);
  }
  if (bits & RVEC_MASK_PC) out += separator + std::to_string(rvec[kPc]);
  const int32_t n = std::min<int32_t>(static_cast<int32_t>(out.size()), capacity - *length);
  std::copy(out.begin(), out.begin() + n, text + *length);
  *length += n;
}
