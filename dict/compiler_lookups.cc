// The compiler's catalog lookups over the per-thread shared statements.
#include "dict/compiler_lookups.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "dict/column_reader.h"
#include "dict/compiler_routines.h"
#include "dict/kind_words.h"
#include "dict/statement_params.h"
#include "dict/statement_run.h"
#include "dict/type_words.h"
#include "dict/upper_services.h"
#include "dict/work_block.h"
#include "kernel/control_blocks.h"
#include "kernel/statement_columns.h"
#include "kernel/system_block.h"
#include "platform/packed_decimal.h"

namespace {

constexpr std::string_view kReservedSchemas[] = {"ZAVOR", "INFO_SCHEM", "OLD_INFO_SCHEMA",
                                                 "INFORMATION_SCHEMA", "FIPS_DOCUMENTATION"};

// The kernel's figures of tree `object` (kind 1 a table, 2 a key) in the
// databank of logical id `lid` into `out`, the middle row estimate held
// within the lowest and highest: 0, or the failure, also in `usr`'s
// RVEC_RCODE. The databank kernel's table requests name a databank by its
// logical id.
int32_t FetchRowStats(int32_t* base, int32_t usr, int32_t lid, int32_t object, int32_t kind,
                      int32_t* out) {
  int32_t pb[2] = {0, usr}, figures[TABSTATS_WORDS];
  const int32_t request[3] = {object, lid, kind};
  DSGetTabStats(base, pb, request, figures);
  if (pb[0] != 0) return pb[0];
  figures[7] = std::clamp(figures[7], figures[5], std::max(figures[5], figures[6]));
  std::copy(figures, figures + TABSTATS_WORDS, out);
  return 0;
}

}  // namespace

int32_t DDCmpPrepare(int32_t* base, int32_t* pb, int32_t thr_field, int32_t image) {
  const int32_t usr = pb[1];
  const int32_t thr = CurrentThread();
  if (!InStorage(base, thr, THR_WORDS)) {
    if (InStorage(base, usr, USR_WORDS)) Wd(base, usr, USR_RVEC_RCODE) = DD_NO_THREAD_BLOCK;
    pb[0] = DD_NO_THREAD_BLOCK;
    return 0;
  }
  const int32_t own = thr + THR_USR_START;
  // The thread serves one session at a time but many in turn: its user
  // takes the requesting session's transaction for this lookup, so that a
  // session sees its own open dictionary work and never another's that
  // began work on the same thread before.
  if (usr != own && InStorage(base, usr, USR_WORDS)) Wd(base, own, USR_TP) = Wd(base, usr, USR_TP);
  pb[1] = own;
  int32_t& slot = Wd(base, thr, thr_field);
  if (slot != 0) {
    // The statement serves every session that runs on the thread, each
    // lookup from its start: it takes the transaction the thread's user has
    // now (the working session's), not the one it ran under before, which
    // may have ended or belong to another session's open work.
    if (Wd(base, slot, STM_TP) != Wd(base, own, USR_TP)) Wd(base, slot, STM_TP) = 0;
    pb[0] = 0;
    return slot;
  }
  const DDStmtImage& im = kStmtImages[image];
  int32_t prep[3] = {-1, own, 0};
  DDPrepStm(base, prep, im.id, im.header, im.header_length, im.body, im.body_length);
  if (prep[2] == 0) {
    if (InStorage(base, usr, USR_WORDS))
      std::memcpy(&Wd(base, usr, USR_RVEC_RCODE), &Wd(base, own, USR_RVEC_RCODE),
                  RVEC_WORDS * sizeof(int32_t));
    pb[0] = prep[0];
    return 0;
  }
  pb[0] = 0;
  return slot = prep[2];
}

void DDCurrentSchema(int32_t* base, int32_t* pb, char* name, int32_t* length) {
  const int32_t usr = pb[1];
  const int32_t alternate = Wd(base, usr, USR_ALTERNATE_USER);
  std::memset(name, ' ', DD_NAME_BYTES);
  pb[0] = 0;
  if (alternate == 0) {
    const int32_t lvl = Wd(base, usr, USR_LVL);
    if (InStorage(base, lvl, LVL_WORDS)) std::memcpy(name, &Wd(base, lvl, LVL_NAME), DD_NAME_BYTES);
    *length = DDNameLength(name);
    return;
  }
  if (InStorage(base, alternate, DD_ALTERNATE_NAME + DD_NAME_BYTES / 4))
    std::memcpy(name, &Wd(base, alternate, DD_ALTERNATE_NAME), DD_NAME_BYTES);
  const std::string_view held = DDTrimmed(std::string_view(name, DD_NAME_BYTES));
  for (std::string_view reserved : kReservedSchemas) {
    if (held == reserved) {
      DDCopyName("SYSTEM", name, length);
      return;
    }
  }
  *length = static_cast<int32_t>(held.size());
}

int32_t DDWithUcomPath(int32_t* base, int32_t stm, int32_t n, int32_t usr) {
  uint8_t* f = nullptr;
  int32_t len = 0;
  if (const int32_t rc = StatementField(base, stm, false, n, &f, &len)) return rc;
  if (len != DD_PATH_BYTES) return DD_PATH_FIELD;
  const int32_t lvl = Wd(base, usr, USR_LVL);
  std::memset(f, 255, DD_PATH_BYTES);
  if (InStorage(base, lvl, LVL_WORDS))
    std::memcpy(f, &Wd(base, lvl, LVL_PATH), DD_PATH_BYTES);
  const int32_t ucom = Wd(base, usr, USR_DDUCOM);
  if (ucom != 0 && Wd(base, ucom, DDUCOM_PATH_FLAG) > 0) {
    // The work block's schema alone, for this one call.
    std::memset(f, 255, DD_PATH_BYTES);
    f[0] = 0;
    std::memcpy(f + 1, &Wd(base, ucom, DDUCOM_SCHEMA), DD_NAME_BYTES);
  }
  for (int32_t e = 0; e < 3; ++e)
    if (f[e * 129] == 255) std::memset(f + e * 129, 255, 129);
  return 0;
}

namespace {

bool NamesFit(const DDTableName& name) {
  return name.name_length >= 0 && name.name_length <= DD_NAME_BYTES &&
         name.schema_length >= 0 && name.schema_length <= DD_NAME_BYTES;
}

// Sets a qualified name: the schema into parameters 1 and 2 (its own, or
// the alternate user's schema), the name into 3 and 4; without a schema
// (and no alternate user) the requester's path into parameter `path` (0:
// the statement takes none) with parameter 1 NULL. 0 or the failure.
int32_t SetQualifiedName(int32_t* base, int32_t stm, int32_t requester, const DDTableName& name,
                         const char* current, int32_t current_length, int32_t path) {
  DDParams p(base, stm);
  p.TextLength(3, name.name, name.name_length);
  const bool by_path = name.schema_length == 0 && Wd(base, requester, USR_ALTERNATE_USER) == 0;
  if (name.schema_length > 0)
    p.TextLength(1, name.schema, name.schema_length);
  else if (!by_path)
    p.TextLength(1, current, current_length);
  else
    p.Null(1).Null(2);
  if (path != 0 && !by_path) p.Null(path);
  if (p.status() != 0 || path == 0 || !by_path) return p.status();
  return DDWithUcomPath(base, stm, path, requester);
}

}  // namespace

int32_t DDNamedLookup(int32_t* base, int32_t* pb, int32_t field, int32_t image,
                      const DDTableName& name, bool test_privilege) {
  const int32_t requester = pb[1];
  if (!NamesFit(name)) {
    pb[0] = DD_NAME_TOO_LONG;
    return 0;
  }
  char current[DD_NAME_BYTES];
  int32_t current_length = 0;
  int32_t cs[2] = {0, requester};
  DDCurrentSchema(base, cs, current, &current_length);
  const int32_t stm = DDCmpPrepare(base, pb, field, image);
  if (stm == 0) return 0;
  DDParams p(base, stm);
  if (name.name_length == 0)
    p.Null(1).Null(2).Null(3).Null(4).Int(5, name.id).Null(6);
  else
    p.Null(5);
  if (test_privilege)
    p.TextLength(7, current, current_length);
  else
    p.Null(7).Null(8);
  if ((pb[0] = p.status()) != 0) return 0;
  if (name.name_length > 0 &&
      (pb[0] = SetQualifiedName(base, stm, requester, name, current, current_length, 6)) != 0)
    return 0;
  return stm;
}

void DDCmpTableAttr(int32_t* base, int32_t* pb, const DDTableName& name, bool test_privilege,
                    DDTableAttr* out) {
  const bool fetch_stats = pb[0] != 0;
  const int32_t requester = pb[1];
  const int32_t stm =
      DDNamedLookup(base, pb, THR_STM_DDL_TA, IMAGE_DDCmpTableAttr, name, test_privilege);
  if (stm == 0) return;
  if (DDSelectRun(base, pb, stm, true) != 0) {
    if (pb[0] > 0) pb[0] = DD_TABLE_NOT_FOUND;
    return;
  }
  DDColumnReader c(base, stm);
  DDTableAttr a{};
  a.id = c.Int(1, 0);
  DDCopyName(c.Text(2), a.schema, &a.schema_length);
  DDCopyName(c.Text(3), a.name, &a.name_length);
  const std::string_view type = c.Text(4);
  a.kind = !type.empty() && type[0] == 'V' ? 2 : 1;
  const int32_t no = a.kind == 2 ? -1 : 0;  // what a view has not
  a.owner_id = c.Int(5, 0);
  a.key_length = c.Int(6, -1);
  a.record_length = c.Int(7, -1);
  a.trailing_start = c.Int(8, -1);
  a.column_count = c.Int(9, 0);
  a.insertable = DDIs(c.Text(10), "YES") ? 1 : 0;
  a.statistics = DDIs(c.Text(11), "Y") || DDIs(c.Text(11), "YES") ? 1 : 0;
  a.databank_id = c.Int(12, -1);
  a.logical_id = c.Int(13, -1);
  const std::string_view letter = c.Text(14);
  const char* at = letter.empty() ? nullptr : std::strchr("NTL", letter[0]);
  a.trans_option = at != nullptr && letter[0] != 0 ? static_cast<int32_t>(at - "NTL") + 1 : -1;
  a.check_option = a.kind == 2 ? (DDIs(c.Text(15), "NONE") ? 0 : 1) : -1;
  a.updatable = a.kind == 2 ? (DDIs(c.Text(16), "YES") ? 1 : 0) : -1;
  a.primary_key_id = c.Int(17, -1);
  a.primary_key_length = c.Int(18, -1);
  a.primary_key_columns = c.Int(19, -1);
  a.entry_length = c.Int(20, -1);
  if (a.kind == 2) {
    a.key_length = a.record_length = a.trailing_start = no;
    a.databank_id = a.logical_id = a.trans_option = no;
    a.primary_key_id = a.primary_key_length = a.primary_key_columns = a.entry_length = no;
  }
  a.has_triggers = DDIs(c.Text(21), "Y") ? 1 : 0;
  a.privileged = DDIs(c.Text(22), "Y") ? 1 : 0;
  a.synonym = DDIs(c.Text(23), "Y") ? 1 : 0;
  std::fill(a.row_stats, a.row_stats + TABSTATS_WORDS, -1);
  if ((pb[0] = c.status()) != 0) return;
  if (fetch_stats && a.kind == 1)
    pb[0] = FetchRowStats(base, requester, a.logical_id, a.id, 1, a.row_stats);
  *out = a;
}

void DDCmpColumns(int32_t* base, int32_t* pb, int32_t table_id, int32_t column_id,
                  const char* name, int32_t name_length, DDColumnDesc* out,
                  uint8_t* default_text, int32_t default_capacity) {
  if (column_id <= 0 && (name_length < 1 || name_length > DD_NAME_BYTES)) {
    pb[0] = DD_NAME_TOO_LONG;
    return;
  }
  const int32_t stm = DDCmpPrepare(base, pb, THR_STM_DDL_CA, IMAGE_DDCmpColumns);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, table_id);
  if (column_id > 0)
    p.Int(2, column_id).Null(3).Null(4);
  else
    p.Null(2).TextLength(3, name, name_length);
  if ((pb[0] = p.status()) != 0) return;
  if (DDSelectRun(base, pb, stm, true) != 0) return;
  DDColumnReader c(base, stm);
  DDColumnDesc d{};
  DDCopyName(c.Text(1), d.name, &d.name_length);
  d.column_id = c.Int(2, 0);
  d.position = c.Int(3, 0);
  d.character_set = c.Int(4, 0);
  DDStoredType(c, {5, 6, 7, 9, 10, 12, 13}, &d.type, &d.length, &d.scale);
  d.nullable = DDIs(c.Text(14), "NO") ? 0 : 1;
  d.second_flag = DDIs(c.Text(15), "NO") ? 0 : 1;
  d.offset = c.Int(17, 0);
  d.domain_id = c.Int(18, 0);
  d.byte_length = c.Int(19, 0);
  d.collation = c.Int(20, 0);
  // The statistics run's estimate (NULL or -1: none) and its low and high
  // values, each behind an indicator of its own.
  d.statistics_count = c.Int(16, -1);
  const std::string_view values = c.Text(21);
  if (d.statistics_count < 0 || values.size() < 34 || values[0] != 0 || values[17] != 0) {
    d.statistics_count = -1;
  } else {
    std::memcpy(d.low, values.data() + 1, 16);
    std::memcpy(d.high, values.data() + 18, 16);
  }
  d.default_length = DDDefaultText(c, 22, default_text, default_capacity);
  if ((pb[0] = c.status()) != 0) return;
  if (d.default_length == 0) {
    // A default too long for its column is kept as a stored text.
    int32_t df[2] = {0, pb[1]}, length = 0;
    DDCmpDefault(base, df, table_id, d.name, d.name_length, default_text, default_capacity,
                 &length);
    if (df[0] < 0) {
      pb[0] = df[0];
      return;
    }
    if (df[0] == 0) d.default_length = length;
  }
  *out = d;
}

int32_t DDKeyKindOf(const char* constraint_type20) {
  static constexpr std::string_view kKinds[] = {"PRIMARY KEY", "INDEX", "FOREIGN KEY",
                                                "INDEX UNIQUE", "UNIQUE"};
  const std::string_view stored = DDTrimmed(std::string_view(constraint_type20, 20));
  for (int32_t k = 0; k < 5; ++k)
    if (stored == kKinds[k]) return k + 1;
  return 0;
}

void DDCmpCI(int32_t* base, int32_t* pb, int32_t table_id, int32_t capacity, int32_t* entries,
             int32_t* count) {
  *count = 0;
  if (capacity < 1) {
    pb[0] = DD_TABLE_NOT_FOUND;
    return;
  }
  const int32_t stm = DDCmpPrepare(base, pb, THR_STM_DDL_CI, IMAGE_DDCmpCI);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, table_id);
  if ((pb[0] = p.status()) != 0) return;
  int32_t* entry = nullptr;
  int32_t current = 0;  // the key id of `entry`
  for (bool restart = true;; restart = false) {
    if (DDSelectRun(base, pb, stm, restart) != 0) break;
    DDColumnReader c(base, stm);
    char type[20];
    std::memset(type, ' ', sizeof type);
    const std::string_view t = c.Text(1);
    std::memcpy(type, t.data(), std::min(t.size(), sizeof type));
    const int32_t kind = DDKeyKindOf(type);
    const int32_t id = c.Int(2, 0);
    if (c.status() != 0) {
      pb[0] = c.status();
      return;
    }
    if (kind == 0) continue;  // check constraints and internal keys
    if (entry == nullptr || id != current) {
      if (*count == capacity) break;
      entry = entries + static_cast<size_t>(*count) * DD_CI_ENTRY_WORDS;
      ++*count;
      current = id;
      std::fill(entry, entry + DD_CI_ENTRY_WORDS, -1);
      entry[DD_CI_KIND] = kind;
      entry[DD_CI_ID] = id;
      entry[DD_CI_COUNT] = c.Int(3, 0);
      entry[DD_CI_FLAG] = kind == 1 || kind == 4 || kind == 5 ? 0 : 1;
    }
    const int32_t position = c.Int(4, 0);
    if (position < 1 || position > DD_CI_MAX_COLUMNS) continue;
    const int32_t k = position - 1;
    entry[DD_CI_COLUMN + k] = c.Int(5, 0);
    entry[DD_CI_OFFSET + k] = c.Int(6, 0);
    const int32_t length = c.Int(7, 0);
    entry[DD_CI_LENGTH + k] = DDIs(c.Text(8), "NO") ? -length : length;
    entry[DD_CI_POSITION + k] = position;
    if (c.status() != 0) {
      pb[0] = c.status();
      return;
    }
  }
  if (pb[0] < 0) return;
  pb[0] = *count == 0 ? 1 : 0;
}

namespace {

// A stored text's key: object, name and source kind word; or (number not
// below 0) the object's stored definition of that number.
struct SourceKey {
  int32_t id = 0;
  const char* name = " ";
  int32_t name_length = 1;
  std::string_view word;
  int32_t number = -1;
};

// Runs the source statement for piece `piece`: its status; the piece's
// stored bytes into *text (empty when NULL) and the total length of a
// first piece into *total.
int32_t SourcePiece(int32_t* base, int32_t* pb, int32_t stm, const SourceKey& key, int32_t piece,
                    std::string_view* text, int32_t* total) {
  DDParams p(base, stm);
  p.Int(1, key.id);
  if (key.number >= 0)
    p.Text(2, " ").Int(3, key.number).Null(4);
  else
    p.TextLength(2, key.name, key.name_length).Text(4, key.word);
  p.Int(5, piece);
  if ((pb[0] = p.status()) != 0) return pb[0];
  if (DDSelectRun(base, pb, stm, true) != 0) return pb[0];
  DDColumnReader c(base, stm);
  *total = c.Int(5, 0);
  *text = c.Text(6);
  return pb[0] = c.status();
}

// The first piece: its statement, or 0 with the status in pb[0] (-19007
// when `required` and it is missing).
int32_t FirstPiece(int32_t* base, int32_t* pb, const SourceKey& key, bool required,
                   std::string_view* text, int32_t* total) {
  const int32_t stm = DDCmpPrepare(base, pb, THR_STM_DDL_RA, IMAGE_DDCmpSourceText);
  if (stm == 0) return 0;
  const int32_t rc = SourcePiece(base, pb, stm, key, 1, text, total);
  if (rc > 0 && required) pb[0] = DD_PIECE_MISSING;
  return rc == 0 ? stm : 0;
}

// The key of a source text, or 0 with -19089 / -19113 in pb[0].
bool TextKey(int32_t* pb, int32_t id, const char* name, int32_t name_length, int32_t kind,
             SourceKey* key) {
  if (DDWordOf(kDDSourceWords, kind, &key->word) != 0) {
    pb[0] = DD_KIND_OUTSIDE;
    return false;
  }
  if (name_length > DD_NAME_BYTES) {
    pb[0] = DD_NAME_TOO_LONG;
    return false;
  }
  key->id = id;
  if (name_length >= 1) key->name = name, key->name_length = name_length;  // else as stored
  return true;
}

// Reads the pieces of a text whose first piece statement `stm` has just
// delivered (`text`, `total`): never more than `capacity` units (bytes,
// or three-byte characters) nor more than each piece holds by the total.
void ReadPieces(int32_t* base, int32_t* pb, int32_t stm, const SourceKey& key, bool bytes,
                std::string_view text, int32_t total, uint8_t* buffer, int32_t capacity,
                int32_t* length) {
  // A piece holds 800 characters (2400 bytes) but the last; the total
  // counts characters (bytes in byte form).
  const int32_t unit = bytes ? 1 : 3;
  const int32_t per_piece = DD_SOURCE_PIECE_BYTES / unit;
  const int32_t want = std::min(std::max(capacity, 0), std::max(total, 0));
  for (int32_t piece = 1; *length < want;) {
    const int32_t in_piece = std::min(per_piece, total - (piece - 1) * per_piece);
    const int32_t take = std::min({in_piece, want - *length,
                                   static_cast<int32_t>(text.size()) / unit});
    if (take <= 0) break;
    std::memcpy(buffer + static_cast<size_t>(*length) * unit, text.data(),
                static_cast<size_t>(take) * unit);
    *length += take;
    if (*length >= want) break;
    int32_t ignored = 0;
    const int32_t rc = SourcePiece(base, pb, stm, key, ++piece, &text, &ignored);
    if (rc > 0) break;  // no further piece
    if (rc < 0) return;
  }
  pb[0] = 0;
}

}  // namespace

void DDCmpSourceInfo(int32_t* base, int32_t* pb, int32_t id, const char* name,
                     int32_t name_length, int32_t kind, int32_t* total) {
  SourceKey key;
  std::string_view text;
  if (TextKey(pb, id, name, name_length, kind, &key))
    FirstPiece(base, pb, key, kind == 1, &text, total);
}

void DDCmpSourceRead(int32_t* base, int32_t* pb, int32_t id, const char* name,
                     int32_t name_length, int32_t kind, bool bytes, uint8_t* buffer,
                     int32_t capacity, int32_t* length) {
  *length = 0;
  SourceKey key;
  std::string_view text;
  int32_t total = 0;
  if (!TextKey(pb, id, name, name_length, kind, &key)) return;
  const int32_t stm = FirstPiece(base, pb, key, kind == 1, &text, &total);
  if (stm != 0) ReadPieces(base, pb, stm, key, bytes, text, total, buffer, capacity, length);
}

namespace {

// The key of a stored definition; a negative number answers
// DD_NAME_TOO_LONG in pb[0] and false.
bool DefinitionKey(int32_t* pb, int32_t id, int32_t number, SourceKey* key) {
  if (number < 0) {
    pb[0] = DD_NAME_TOO_LONG;
    return false;
  }
  key->id = id;
  key->number = number;
  return true;
}

}  // namespace

void DDCmpDefinitionInfo(int32_t* base, int32_t* pb, int32_t id, int32_t number,
                         int32_t* total) {
  SourceKey key;
  if (!DefinitionKey(pb, id, number, &key)) return;
  std::string_view text;
  FirstPiece(base, pb, key, true, &text, total);
}

void DDCmpDefinitionRead(int32_t* base, int32_t* pb, int32_t id, int32_t number, uint8_t* buffer,
                         int32_t capacity, int32_t* length) {
  *length = 0;
  SourceKey key;
  if (!DefinitionKey(pb, id, number, &key)) return;
  std::string_view text;
  int32_t total = 0;
  const int32_t stm = FirstPiece(base, pb, key, true, &text, &total);
  if (stm != 0) ReadPieces(base, pb, stm, key, true, text, total, buffer, capacity, length);
}

void DDCmpIndexAttr(int32_t* base, int32_t* pb, int32_t key_id, DDIndexAttr* out) {
  const bool fetch_stats = pb[0] != 0;
  const int32_t requester = pb[1];
  const int32_t stm = DDCmpPrepare(base, pb, THR_STM_DDL_IA, IMAGE_DDCmpIndexAttr);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, key_id);
  if ((pb[0] = p.status()) != 0 || DDSelectRun(base, pb, stm, true) != 0) return;
  DDColumnReader c(base, stm);
  DDIndexAttr a = *out;
  char type[20];
  std::memset(type, ' ', sizeof type);
  const std::string_view t = c.Text(1);
  std::memcpy(type, t.data(), std::min(t.size(), sizeof type));
  const int32_t kind = DDKeyKindOf(type);
  if (kind >= 2) a.kind = kind;  // the primary key and other words leave it
  a.id = c.Int(2, 0);
  a.table_id = c.Int(3, 0);
  a.key_length = c.Int(4, 0);
  a.column_count = c.Int(5, 0);
  a.entry_length = c.Int(6, 0);
  a.further = c.Int(7, 0);
  const std::string_view letter = c.Text(8);
  const size_t at = letter.empty() ? std::string_view::npos
                                   : std::string_view("NTL").find(letter[0]);
  a.trans_option = at == std::string_view::npos ? -1 : static_cast<int32_t>(at) + 1;
  std::fill(a.row_stats, a.row_stats + TABSTATS_WORDS, -1);
  if ((pb[0] = c.status()) != 0) return;
  if (fetch_stats) {
    // The key's databank is its table's.
    int32_t tpb[2] = {0, requester};
    DDTableName table;
    table.id = a.table_id;
    DDTableAttr t;
    DDCmpTableAttr(base, tpb, table, false, &t);
    if ((pb[0] = tpb[0]) != 0) return;
    // By the stored word: a primary key's tree is the table's own.
    pb[0] = kind == 1 ? FetchRowStats(base, requester, t.logical_id, a.table_id, 1, a.row_stats)
                        : FetchRowStats(base, requester, t.logical_id, a.id, 2, a.row_stats);
  }
  *out = a;
}

namespace {

// Runs a privilege lookup whose parameters `set` fills, the current schema
// as the grantee in parameters `grantee` and `grantee` + 1.
template <typename Set>
void PrivilegeLookup(int32_t* base, int32_t* pb, int32_t field, int32_t image, int32_t grantee,
                     Set set) {
  char schema[DD_NAME_BYTES];
  int32_t length = 0;
  int32_t cs[2] = {0, pb[1]};
  DDCurrentSchema(base, cs, schema, &length);
  const int32_t stm = DDCmpPrepare(base, pb, field, image);
  if (stm == 0) return;
  DDParams p(base, stm);
  set(p);
  p.TextLength(grantee, schema, length);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

}  // namespace

void DDCmpTablePriv(int32_t* base, int32_t* pb, int32_t table_id, int32_t privilege) {
  std::string_view word;
  if (privilege > 6 || DDWordOf(kDDTablePrivWords, privilege, &word) != 0) {
    pb[0] = DD_KIND_OUTSIDE;
    return;
  }
  PrivilegeLookup(base, pb, THR_STM_DDL_TP, IMAGE_DDCmpTablePriv, 3,
                  [&](DDParams& p) { p.Int(1, table_id).Text(2, word); });
}

void DDCmpColumnPriv(int32_t* base, int32_t* pb, int32_t table_id, int32_t privilege,
                     const char* column, int32_t column_length) {
  std::string_view word;
  if (DDWordOf(kDDColumnPrivWords, privilege, &word) != 0) {
    pb[0] = DD_KIND_OUTSIDE;
    return;
  }
  if (column_length < 0 || column_length > DD_NAME_BYTES) {
    pb[0] = DD_NAME_TOO_LONG;
    return;
  }
  PrivilegeLookup(base, pb, THR_STM_DDL_CP, IMAGE_DDCmpColumnPriv, 5, [&](DDParams& p) {
    p.Int(1, table_id).Text(2, word).TextLength(3, column, column_length);
  });
}

namespace {

// An object's id by its qualified name (DDCmpCollation, DDCmpIN).
void ObjectByName(int32_t* base, int32_t* pb, int32_t field, int32_t image,
                  const DDTableName& name, int32_t path, int32_t* id) {
  const int32_t requester = pb[1];
  if (!NamesFit(name) || name.name_length < 1) {
    pb[0] = DD_NAME_TOO_LONG;
    return;
  }
  char current[DD_NAME_BYTES];
  int32_t current_length = 0;
  int32_t cs[2] = {0, requester};
  DDCurrentSchema(base, cs, current, &current_length);
  const int32_t stm = DDCmpPrepare(base, pb, field, image);
  if (stm == 0) return;
  if ((pb[0] = SetQualifiedName(base, stm, requester, name, current, current_length, path)) != 0)
    return;
  if (DDSelectRun(base, pb, stm, true) != 0) return;
  DDColumnReader c(base, stm);
  const int32_t found = c.Int(1, 0);
  if ((pb[0] = c.status()) == 0) *id = found;
}

}  // namespace

void DDCmpCollation(int32_t* base, int32_t* pb, const DDTableName& name, int32_t* id) {
  ObjectByName(base, pb, THR_STM_DDL_CS, IMAGE_DDCmpCollation, name, 5, id);
}

void DDCmpIN(int32_t* base, int32_t* pb, const DDTableName& name, int32_t* id) {
  ObjectByName(base, pb, THR_STM_DDL_IN, IMAGE_DDCmpIN, name, 0, id);
}

void DDCmpCC(int32_t* base, int32_t* pb, int32_t table_id, int32_t domain_id, int32_t* value) {
  const int32_t stm = DDCmpPrepare(base, pb, THR_STM_DDL_CC, IMAGE_DDCmpCC);
  if (stm == 0) return;
  DDParams p(base, stm);
  if (table_id == 0)
    p.Null(1);
  else
    p.Int(1, table_id);
  p.Int(2, domain_id).Int(3, *value);
  if ((pb[0] = p.status()) != 0 || DDSelectRun(base, pb, stm, true) != 0) return;
  DDColumnReader c(base, stm);
  const int32_t id = c.Int(1, 0);
  if ((pb[0] = c.status()) == 0) *value = id;
}

void DDCmpSequence(int32_t* base, int32_t* pb, const DDTableName& name, bool test_privilege,
                   DDSequenceAttr* out) {
  const int32_t stm =
      DDNamedLookup(base, pb, THR_STM_DDL_SE, IMAGE_DDCmpSequence, name, test_privilege);
  if (stm == 0) return;
  std::string_view privilege;
  DDWordOf(kDDPrivKindWords, 9, &privilege);  // SEQUENCE
  DDParams p(base, stm);
  p.Text(9, privilege);
  if ((pb[0] = p.status()) != 0) return;
  if (DDSelectRun(base, pb, stm, true) != 0) return;
  DDColumnReader c(base, stm);
  DDSequenceAttr a{};
  a.id = c.Int(1, 0);
  DDCopyName(c.Text(2), a.schema, &a.schema_length);
  DDCopyName(c.Text(3), a.name, &a.name_length);
  a.increment = c.Int(4, 0);
  a.has_current = c.Null(5) ? 0 : 1;
  a.current = c.Int(5, 0);
  a.minimum = c.Int(6, 0);
  a.maximum = c.Int(7, 0);
  a.cycle = DDIs(c.Text(8), "YES") ? 1 : 0;
  a.block_end = c.Int(9, 0);
  a.privileged = DDIs(c.Text(11), "Y") ? 1 : 0;
  if ((pb[0] = c.status()) == 0) *out = a;
}

void DDCmpDomain(int32_t* base, int32_t* pb, const DDTableName& name, bool test_privilege,
                 DDDomainAttr* out, uint8_t* default_text, int32_t default_capacity) {
  const int32_t stm =
      DDNamedLookup(base, pb, THR_STM_DDL_DA, IMAGE_DDCmpDomain, name, test_privilege);
  if (stm == 0 || DDSelectRun(base, pb, stm, true) != 0) return;
  DDColumnReader c(base, stm);
  DDDomainAttr d{};
  d.id = c.Int(1, 0);
  DDCopyName(c.Text(2), d.schema, &d.schema_length);
  DDCopyName(c.Text(3), d.name, &d.name_length);
  DDStoredType(c, {4, 5, 6, 8, 9, 11, 12}, &d.type, &d.length, &d.scale);
  d.not_null = DDIs(c.Text(13), "YES") ? 1 : 0;
  d.default_length = DDDefaultText(c, 14, default_text, default_capacity);
  d.further = c.Int(15, 0);
  d.character_set = c.Int(16, 0);
  d.collation = c.Int(17, 0);
  d.privileged = DDIs(c.Text(18), "Y") ? 1 : 0;
  if ((pb[0] = c.status()) == 0) *out = d;
}

void DDCmpViewCols(int32_t* base, int32_t* pb, int32_t view_id, DDViewText* out) {
  const int32_t stm = DDCmpPrepare(base, pb, THR_STM_DDL_VC, IMAGE_DDCmpViewCols);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, view_id);
  if ((pb[0] = p.status()) != 0 || DDSelectRun(base, pb, stm, true) != 0) return;
  DDColumnReader c(base, stm);
  DDViewText v{};
  DDCopyName(c.Text(1), v.schema, &v.schema_length);
  DDCopyName(c.Text(2), v.name, &v.name_length);
  v.has_text = c.Null(4) ? 0 : 1;
  v.length = c.Int(5, 0);
  if ((pb[0] = c.status()) == 0) *out = v;
}
