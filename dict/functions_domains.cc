// Statement functions of domains and of the columns that use a domain or a
// sequence.
#include <string_view>

#include "dict/column_reader.h"
#include "dict/kind_words.h"
#include "dict/new_ids.h"
#include "dict/statement_functions.h"
#include "dict/statement_params.h"
#include "dict/statement_run.h"
#include "dict/type_encoding.h"
#include "dict/type_words.h"

namespace {

// The default character sets, read back as 0.
constexpr int32_t kDefaultCharacterSet = 136;
constexpr int32_t kDefaultNationalSet = 140;

}  // namespace

void DDInsDomain(int32_t* base, int32_t* pb, int32_t id, const DDTypeInput& type,
                 int32_t int140, bool flag1, bool flag2, const uint8_t* default3,
                 int32_t default_length) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsDomain, IMAGE_DDInsDomain);
  if (stm == 0) return;
  DDTypeInput in = type;
  in.default_length = default3 == nullptr ? 0 : default_length;
  DDTypeParams t;
  if (DDEncodeType(in, &t) != 0) {
    pb[0] = DD_KIND_OUTSIDE;
    return;
  }
  DDParams p(base, stm);
  p.Int(1, id).Maybe(2, t.p[2]).Text(3, DDTypeWord(t.type_entry));
  if (t.qualifier_entry != 0)
    p.Text(4, DDQualifierWord(t.qualifier_entry));
  else
    p.Null(4);
  p.MaybeWide(5, t.p[5]).MaybeWide(6, t.p[6]);
  for (int32_t n = 7; n <= 11; ++n) p.Maybe(n, t.p[n]);
  p.Int(12, int140).Flag(13, flag1).Flag(14, flag2);
  // A default longer than the column holds is stored empty.
  if (t.p[15])
    p.Chars(15, default3, static_cast<int32_t>(*t.p[15]));
  else
    p.Null(15).Null(16);
  p.Maybe(17, t.p[17]);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDGetDomain(int32_t* base, int32_t* pb, const char* schema, int32_t schema_length,
                 const char* name, int32_t name_length, DDDomainInfo* out, uint8_t* default3,
                 int32_t capacity) {
  const int32_t stm = DDVariantStatement(base, pb, SLOT_DDGetDomain, IMAGE_DDGetDomain);
  if (stm == 0) return;
  if (DDRunByPath(base, pb, stm, schema, schema_length, name, name_length) != 0) return;
  DDColumnReader c(base, stm);
  DDDomainInfo d;
  d.id = c.Int(1, 0);
  d.character_set = c.Int(2, 0);
  if (d.character_set == kDefaultCharacterSet || d.character_set == kDefaultNationalSet)
    d.character_set = 0;
  DDStoredType(c, {3, 4, 5, 7, 8, 9, 10}, &d.type, &d.length, &d.scale);
  d.collation = c.Int(11, 0);
  d.flag1 = DDTrimmed(c.Text(12)) != "N";
  d.flag2 = DDTrimmed(c.Text(13)) != "N";
  d.default_length = DDDefaultText(c, 14, default3, capacity);
  d.int140 = c.Int(15, 0);
  if ((pb[0] = c.status()) == 0) *out = d;
}

void DDDelDomainUse(int32_t* base, int32_t* pb, int32_t id) {
  DDRunWithId(base, pb, SLOT_DDDelDomainUse, IMAGE_DDDelDomainUse, id);
}

void DDGetDomainSeq(int32_t* base, int32_t* pb, int32_t id, int32_t kind, int32_t* table_id,
                    char* column, int32_t* table_kind, char* table_name, char* schema) {
  const int32_t mode = pb[0];
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDGetDomainSeq, IMAGE_DDGetDomainSeq);
  if (stm == 0) return;
  if (mode != 0) {
    std::string_view word;
    if ((kind != 2 && kind != 14) || DDWordOf(kDDObjectWords, kind, &word) != 0) {
      pb[0] = DD_KIND_OUTSIDE;
      return;
    }
    DDParams p(base, stm);
    p.Int(1, id).Text(2, word);
    if ((pb[0] = p.status()) != 0) return;
  }
  if (DDSelectRun(base, pb, stm, mode != 0) != 0) return;
  DDColumnReader c(base, stm);
  *table_id = c.Int(1, 0);
  if (column != nullptr) DDCopyName(c.Text(2), column, nullptr);
  *table_kind = DDNumberOf(kDDObjectWords, c.Text(3));
  if (table_name != nullptr) DDCopyName(c.Text(4), table_name, nullptr);
  if (schema != nullptr) DDCopyName(c.Text(6), schema, nullptr);
  pb[0] = c.status();
}

void DDCheckUsage(int32_t* base, int32_t* pb, int32_t id, const char* name, int32_t name_length,
                  int32_t* domain_id) {
  const int32_t mode = pb[0];
  if (mode != 0 && mode != 1 && mode != 2) {
    pb[0] = DD_BAD_PARAMETER;
    return;
  }
  DDDropCursor(base, pb, SLOT_DDCheckUsage, IMAGE_DDCheckUsage, mode != 0, mode == 2, id, name,
               name_length, domain_id);
}
