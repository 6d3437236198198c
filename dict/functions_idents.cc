// Statement functions of idents, schemas and triggers.
#include <string_view>

#include "dict/kind_words.h"
#include "dict/statement_functions.h"
#include "dict/statement_run.h"
#include "kernel/statement_columns.h"

namespace {

const uint8_t* Bytes(const char* s) {
  return reinterpret_cast<const uint8_t*>(s);
}

// Sets parameters in order until one fails; the failure.
class Params {
 public:
  Params(int32_t* base, int32_t stm) : base_(base), stm_(stm) {}
  Params& Int(int32_t n, int32_t v) {
    if (status_ == 0) DSSetParInt(base_, &status_, stm_, n, v);
    return *this;
  }
  Params& Null(int32_t n) {
    if (status_ == 0) DSSetParNull(base_, &status_, stm_, n);
    return *this;
  }
  Params& Text(int32_t n, std::string_view t) {  // blank padded
    if (status_ == 0)
      DSSetParChar(base_, &status_, stm_, n, Bytes(t.data()), 0, static_cast<int32_t>(t.size()));
    return *this;
  }
  Params& TextLength(int32_t n, const char* t, int32_t length) {  // n and its length n + 1
    if (status_ == 0) DSSetParVar(base_, &status_, stm_, n, Bytes(t), 0, length);
    return *this;
  }
  Params& Raw(int32_t n, const uint8_t* b, int32_t length) {  // zero padded
    if (status_ == 0) DSSetParPad(base_, &status_, stm_, n, b, 0, length);
    return *this;
  }
  int32_t status() const { return status_; }

 private:
  int32_t* base_;
  int32_t stm_;
  int32_t status_ = 0;
};

}  // namespace

void DDInsIdent(int32_t* base, int32_t* pb, const char* name, int32_t name_length, int32_t id,
                int32_t kind, const uint8_t* bytes, int32_t bytes_length) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsIdent, IMAGE_DDInsIdent);
  if (stm == 0) return;
  std::string_view word;
  if (DDWordOf(kDDGranteeWords, kind, &word) != 0) {
    pb[0] = DD_KIND_OUTSIDE;
    return;
  }
  Params p(base, stm);
  p.TextLength(1, name, name_length).Int(3, id).Text(4, word).Int(6, 0);
  if (bytes != nullptr)
    p.Raw(5, bytes, bytes_length);
  else
    p.Null(5);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDInsSchema(int32_t* base, int32_t* pb, int32_t id) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsSchema, IMAGE_DDInsSchema);
  if (stm == 0) return;
  Params p(base, stm);
  p.Int(1, id).Int(2, 135).Null(3);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDChkTrigger(int32_t* base, int32_t* pb, int32_t id) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDChkTrigger, IMAGE_DDChkTrigger);
  if (stm == 0) return;
  Params p(base, stm);
  p.Int(1, id);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDGetIdByName(int32_t* base, int32_t* pb, const char* name, int32_t name_length,
                   int32_t* id) {
  const bool open = pb[0] != 0;
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDGetIdByName, IMAGE_DDGetIdByName);
  if (stm == 0) return;
  if (open) {
    Params p(base, stm);
    p.TextLength(1, name, name_length);
    if ((pb[0] = p.status()) != 0) return;
  }
  if (DDSelectRun(base, pb, stm, open) != 0) return;
  int32_t status = 0;
  DSGetColInt(base, &status, stm, 1, id);
  pb[0] = status;
}
