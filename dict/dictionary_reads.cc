// The dictionary's reads and privilege checks, and its cursors over keys
// and databanks.
#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "dict/compiler_lookups.h"
#include "dict/dictionary_services.h"
#include "dict/kind_words.h"
#include "dict/statement_params.h"
#include "dict/statement_prepare.h"
#include "dict/statement_run.h"
#include "dict/work_block.h"

namespace {

bool NameFits(int32_t length) {
  return length >= 0 && length <= DD_NAME_LENGTH;
}

}  // namespace

void DDChkTablePriv(int32_t* base, int32_t* pb, int32_t table_id, int32_t privilege,
                    const char* grantee, int32_t grantee_length, int32_t* held) {
  std::string_view word;
  if ((pb[0] = DDWordOf(kDDTablePrivWords, privilege, &word)) != 0) return;
  if (!NameFits(grantee_length)) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDChkTablePriv, IMAGE_DDChkTablePriv);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, table_id).Text(2, word).TextLength(3, grantee, grantee_length);
  if ((pb[0] = p.status()) != 0) return;
  if (DDSelectRun(base, pb, stm, true) != 0) return;
  DDColumnReader c(base, stm);
  const int32_t a = c.Int(1, 0), b = c.Int(2, 0);
  if ((pb[0] = c.status()) != 0) return;
  *held = a == 1 ? (b == 1 ? 1 : 3) : a == 2 ? (b == 1 ? 2 : 4) : 0;
}

void DDChkColumnPriv(int32_t* base, int32_t* pb, int32_t table_id, int32_t privilege,
                     const char* column, int32_t column_length, const char* grantee,
                     int32_t grantee_length, int32_t* held) {
  std::string_view word;
  if ((pb[0] = DDWordOf(kDDColumnPrivWords, privilege, &word)) != 0) return;
  if (!NameFits(grantee_length) || !NameFits(column_length)) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDChkColumnPriv, IMAGE_DDChkColumnPriv);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, table_id).Text(2, word).TextLength(3, column, column_length);
  p.TextLength(5, grantee, grantee_length);
  if ((pb[0] = p.status()) != 0) return;
  if (DDSelectRun(base, pb, stm, true) != 0) return;
  DDColumnReader c(base, stm);
  *held = c.Int(1, 0);
  pb[0] = c.status();
}

void DDGetColumn(int32_t* base, int32_t* pb, int32_t table_id, int32_t number, int32_t position,
                 const char* name, int32_t name_length, DDColumnRow* out, uint8_t* default_text3,
                 int32_t default_capacity) {
  if (number <= 0 && position <= 0 && !NameFits(name_length)) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDGetColumn, IMAGE_DDGetColumn);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, table_id);
  if (number > 0)
    p.Int(2, number).Null(3).Null(4).Null(5);
  else if (position > 0)
    p.Null(2).Null(3).Null(4).Int(5, position);
  else
    p.Null(2).TextLength(3, name, name_length).Null(5);
  if ((pb[0] = p.status()) != 0) return;
  if (DDSelectRun(base, pb, stm, true) != 0) return;
  DDColumnReader c(base, stm);
  DDColumnRow r{};
  DDCopyName(c.Text(1), r.name, &r.name_length);
  r.number = c.Int(2, 0);
  DDStoredType(c, {3, 4, 5, 6, 7, 8, 9}, &r.type, &r.length, &r.scale);
  r.nullable = DDIs(c.Text(10), "NO") ? 0 : 1;
  r.second_flag = DDIs(c.Text(11), "NO") ? 0 : 1;
  r.default_length = DDDefaultText(c, 12, default_text3, default_capacity);
  r.offset = c.Int(13, 0);
  r.byte_length = c.Int(14, 0);
  r.domain_id = c.Int(15, 0);
  r.character_set = c.Int(16, 0);
  r.collation = c.Int(17, 0);
  r.position = c.Int(18, 0);
  if ((pb[0] = c.status()) != 0) return;
  *out = r;
}

void DDGetKeyColumn(int32_t* base, int32_t* pb, int32_t key_id, int32_t table_id,
                    int32_t position, DDKeyColumn* out) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDGetKeyColumn, IMAGE_DDGetKeyColumn);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, key_id).Int(2, table_id).Int(3, position);
  if ((pb[0] = p.status()) != 0 || DDSelectRun(base, pb, stm, true) != 0) return;
  DDColumnReader c(base, stm);
  DDKeyColumn k{};
  k.ascending = DDIs(c.Text(1), "NO") ? 0 : 1;
  DDStoredType(c, {2, 3, 4, 5, 6, 7, 8}, &k.type, &k.length, &k.scale);
  DDCopyName(c.Text(9), k.name, &k.name_length);
  k.number = c.Int(10, 0);
  k.offset = c.Int(11, 0);
  k.byte_length = c.Int(12, 0);
  k.nullable = DDIs(c.Text(13), "NO") ? 0 : 1;
  if ((pb[0] = c.status()) == 0) *out = k;
}

void DDGetRefKey(int32_t* base, int32_t* pb, int32_t table_id, int32_t count, const char* names,
                 const int32_t* lengths, int32_t* key) {
  if (count < 1 || count > DD_MAX_KEY_COLUMNS) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  std::vector<std::string_view> wanted;
  for (int32_t k = 0, at = 0; k < count; at += lengths[k++]) {
    if (lengths[k] < 1 || lengths[k] > DD_NAME_LENGTH) {
      pb[0] = DD_BAD_VALUE;
      return;
    }
    wanted.push_back(DDTrimmed(std::string_view(names + at, static_cast<size_t>(lengths[k]))));
  }
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDGetRefKey, IMAGE_DDGetRefKey);
  if (stm == 0) return;
  constexpr int32_t kEndOfColumns = 5;
  for (std::string_view kind : {std::string_view("PRIMARY KEY"), std::string_view("UNIQUE")}) {
    bool first = true;
    int32_t after = 0;
    for (;;) {  // each key of the kind
      bool match = true;
      int32_t id = 0, status = 0;
      for (int32_t place = 1;; ++place) {  // each column of the key
        DDParams p(base, stm);
        p.Int(1, table_id).Text(2, kind).Int(4, place);
        if (first)
          p.Null(3);
        else
          p.Int(3, after);
        if ((pb[0] = p.status()) != 0) return;
        status = DDSelectRun(base, pb, stm, true);
        if (status < 0 || status == 1) break;
        DDColumnReader c(base, stm);
        id = c.Int(1, 0);
        if (status == kEndOfColumns) {
          match = match && place == count + 1;
          break;
        }
        if (status != 0) {
          pb[0] = status;
          return;
        }
        match = place <= count && DDTrimmed(c.Text(2)) == wanted[place - 1];
        if ((pb[0] = c.status()) != 0) return;
        if (!match) break;  // a name that differs: the next key
      }
      if (status < 0) return;
      if (status == 1) break;  // no further key of the kind
      if (match) {
        *key = id;
        pb[0] = 0;
        return;
      }
      first = false;
      after = id;
    }
  }
  pb[0] = 1;
}

void DDCurKeys(int32_t* base, int32_t* pb, int32_t table_id, int32_t* values) {
  const bool open = pb[0] != 0;
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDCurKeys, IMAGE_DDCurKeys);
  if (stm == 0) return;
  if (open) {
    DDParams p(base, stm);
    p.Int(1, table_id);
    if ((pb[0] = p.status()) != 0) return;
  }
  if (DDSelectRun(base, pb, stm, open) != 0) return;
  DDColumnReader c(base, stm);
  char type[20];
  std::memset(type, ' ', sizeof type);
  const std::string_view t = c.Text(1);
  std::memcpy(type, t.data(), std::min(t.size(), sizeof type));
  values[0] = DDKeyKindOf(type);
  for (int32_t k = 1; k < 7; ++k) values[k] = c.Int(k + 1, -1);
  pb[0] = c.status();
}

int32_t DDOptionOf(std::string_view word) {
  return DDIs(word, "LOG") ? 1 : DDIs(word, "TRANS") ? 2 : DDIs(word, "NULL") ? 3 : 0;
}

void DDCurDatabank(int32_t* base, int32_t* pb, int32_t id, const char* name,
                   int32_t name_length, DDDatabankRow* out) {
  const int32_t mode = pb[0];
  if (mode < 0 || mode > 3 || (mode == 1 && !NameFits(name_length))) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  if (mode != 0 && DDReopenSlot(base, pb, SLOT_DDCurDatabank) != 0) return;
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDCurDatabank, IMAGE_DDCurDatabank);
  if (stm == 0) return;
  if (mode != 0) {
    DDParams p(base, stm);
    if (mode == 1)
      p.Null(1).TextLength(2, name, name_length);
    else if (mode == 2)
      p.Int(1, id).Null(2).Null(3);
    else
      p.Null(1).Null(2).Null(3);
    if ((pb[0] = p.status()) != 0) return;
  }
  if (DDSelectRun(base, pb, stm, mode != 0) != 0) return;
  DDColumnReader c(base, stm);
  DDDatabankRow r{};
  r.id = c.Int(1, 0);
  r.number = c.Int(2, 0);
  DDCopyName(c.Text(3), r.name, &r.name_length);
  r.logical_id = c.Int(4, 0);
  DDCopyName(c.Text(5), r.second_name, &r.second_name_length);
  std::memset(r.file, ' ', sizeof r.file);
  const std::string_view file = c.Text(7);
  std::memcpy(r.file, file.data(), std::min(file.size(), sizeof r.file));
  r.option = DDOptionOf(c.Text(9));
  r.flag = DDIs(c.Text(10), "YES") ? 1 : 0;
  r.offline = DDIs(c.Text(8), "Y") ? 1 : 0;
  DDCopyName(c.Text(11), r.creator, &r.creator_length);
  if ((pb[0] = c.status()) != 0) return;
  *out = r;
}
