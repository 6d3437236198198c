// A dictionary work over the catalog tables most statement functions use,
// with rows read and written by record access outside the work, and the
// statements whose functions are the definition services' run as those
// services run them.
#pragma once

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "dict/kind_words.h"
#include "dict/statement_functions.h"
#include "dict/statement_params.h"
#include "dict/statement_prepare.h"
#include "dict/statement_run.h"
#include "dict/tests/catalog_fixture.h"
#include "du/record_operations.h"
#include "kernel/control_blocks.h"
#include "kernel/table_use.h"
#include "platform/packed_decimal.h"


inline std::string Padded(const std::string& s, std::size_t n) { return s + std::string(n - s.size(), ' '); }

class ObjectsTest : public CatalogWorkTest {
 protected:
  void SetUp() override { SetUpCatalog({11, 12, 14, 15, 16, 17, 18, 19, 20, 21, 22, 24, 25, 26, 27, 28, 29, 30, 32, 36, 38, 40, 41, 44, 151}); }

  int32_t InsObject(int32_t id, int32_t kind, const std::string& schema, const std::string& name) {
    int32_t pb[2] = {0, usr_};
    DDInsObject(base_, pb, id, kind, schema.data(), static_cast<int32_t>(schema.size()),
                name.data(), static_cast<int32_t>(name.size()));
    return pb[0];
  }
  // The object's id or -status.
  int32_t ObjectId(const std::string& schema, const std::string& name, int32_t kind) {
    int32_t pb[2] = {0, usr_}, id = 0;
    DDGetObjectId(base_, pb, schema.data(), static_cast<int32_t>(schema.size()), name.data(),
                  static_cast<int32_t>(name.size()), kind, &id);
    return pb[0] == 0 ? id : -pb[0];
  }
  // The user's level path: up to three schemas, the rest NULL.
  void Path(const std::vector<std::string>& schemas) {
    uint8_t* path = reinterpret_cast<uint8_t*>(&W(W(usr_ + USR_LVL) + LVL_PATH));
    std::memset(path, 255, LVL_PATH_BYTES - 1);
    for (std::size_t k = 0; k < schemas.size(); ++k) {
      path[129 * k] = 0;
      std::memcpy(path + 129 * k + 1, Padded(schemas[k], 128).data(), 128);
    }
  }
  // A row of a table read by its key in a transaction of its own (after
  // the dictionary work): empty when there is none.
  std::string ReadRow(int32_t table, const std::string& key) {
    const CatalogTable* t = CatalogFindTable(table);
    EXPECT_NE(t, nullptr);
    EXPECT_EQ(Begin(1), 0);
    NextCursorOrder(usr_);
    std::vector<int32_t> r = Record(table, 3, t->key_length, t->record_length);
    EXPECT_EQ(Open(r), 0);
    std::memcpy(r.data() + DUREC_RECORD, key.data(), key.size());
    DUReadRowByKey(base_, r.data(), usr_);
    std::string row;
    if (r[DUREC_STATUS] == 0)
      row.assign(reinterpret_cast<const char*>(r.data() + DUREC_RECORD),
                 static_cast<std::size_t>(t->record_length));
    EXPECT_EQ(Close(r), 0);
    EXPECT_EQ(End(0), 0);
    return row;
  }
  // Inserts a row (the record's bytes) in a transaction of its own.
  void WriteRow(int32_t table, std::string row) {
    const CatalogTable* t = CatalogFindTable(table);
    ASSERT_NE(t, nullptr);
    row.resize(static_cast<std::size_t>(t->record_length), '\xff');
    ASSERT_EQ(Begin(1), 0);
    NextCursorOrder(usr_);
    std::vector<int32_t> r = Record(table, 3, t->key_length, t->record_length);
    ASSERT_EQ(Open(r), 0);
    std::memcpy(r.data() + DUREC_RECORD, row.data(), row.size());
    DUInsertRow(base_, r.data(), usr_);
    EXPECT_EQ(r[DUREC_STATUS], 0);
    EXPECT_EQ(Close(r), 0);
    EXPECT_EQ(End(0), 0);
  }
  // A statement's slot, prepared, for the statements whose functions are
  // the definition services'.
  int32_t Slot(int32_t slot, int32_t image) {
    int32_t pb[2] = {0, usr_};
    const int32_t stm = DDSlotStatement(base_, pb, slot, image);
    EXPECT_EQ(pb[0], 0);
    return stm;
  }
  int32_t Run(int32_t stm, const DDParams& p) {
    if (p.status() != 0) return p.status();
    int32_t pb[2] = {0, usr_};
    return DDSelectRun(base_, pb, stm, true);
  }

  // The definition services' statements, run as they will run them.
  template <typename F>
  int32_t Exec(int32_t slot, int32_t image, F set) {
    const int32_t stm = Slot(slot, image);
    DDParams p(base_, stm);
    set(p);
    return Run(stm, p);
  }
  int32_t InsDatabank(int32_t id, int32_t lid, const std::string& name) {
    return Exec(SLOT_DDInsDatabank, IMAGE_DDInsDatabank, [&](DDParams& p) {
      p.Int(1, id).Int(2, lid).TextLength(3, name.data(), static_cast<int32_t>(name.size()));
      p.TextLength(5, "OWNER", 5).TextLength(7, "d.dbf", 5).Text(9, "TRANS").Text(10, "YES");
    });
  }
  int32_t InsTable(int32_t id) {
    return Exec(SLOT_DDInsTable, IMAGE_DDInsTable, [&](DDParams& p) {
      p.Int(1, id).Text(2, "BASE TABLE").Int(3, 77).Int(4, 14).Text(5, "YES").Int(6, 900);
    });
  }
  int32_t InsConstraint(int32_t id, int32_t lid, const std::string& kind = "PRIMARY KEY") {
    return Exec(SLOT_DDInsConstraint, IMAGE_DDInsConstraint, [&](DDParams& p) {
      p.Int(1, id).Text(2, kind).Int(3, 910).Int(4, 14).Int(5, 2).Int(6, 21).Int(7, 0);
      if (lid == 0)
        p.Null(8);
      else
        p.Int(8, lid);
    });
  }
  int32_t InsColumn(const std::string& name, int32_t number, int32_t domain) {
    return Exec(SLOT_DDInsColumn, IMAGE_DDInsColumn, [&](DDParams& p) {
      p.Int(1, 910).TextLength(2, name.data(), static_cast<int32_t>(name.size())).Int(4, number);
      p.Int(5, number).Int(6, 136).Text(7, "CHARACTER").Null(8).Int(9, 20);
      p.Null(10).Null(11).Null(12).Null(13).Null(14).Text(15, "NO ").Text(16, "YES");
      p.Int(17, 7 * number).Int(18, 21);
      if (domain == 0)
        p.Null(19);
      else
        p.Int(19, domain);
      p.Null(20).Null(21).Int(22, 135).Int(23, 20);
    });
  }
  int32_t InsKey(int32_t position, const std::string& name, int32_t key = 920) {
    return Exec(SLOT_DDInsKey, IMAGE_DDInsKey, [&](DDParams& p) {
      p.Int(1, key).Int(2, 910).Int(3, position);
      p.TextLength(4, name.data(), static_cast<int32_t>(name.size()));
      p.Text(6, "PRIMARY KEY").Text(7, "YES").Text(8, "YES").Int(9, position);
    });
  }
  int32_t InsReference(int32_t id) {
    return Exec(SLOT_DDInsRefConstraint, IMAGE_DDInsRefConstraint, [&](DDParams& p) {
      p.Int(1, id).Int(2, 910).Int(3, 920).Int(4, 910).Text(5, "NONE").Text(6, "CASCADE");
      p.Text(7, "NO ACTION");
    });
  }
  int32_t InsTablePriv(const std::string& kind, const std::string& grantable,
                       const std::string& grantee = "U") {
    return Exec(SLOT_DDInsTablePriv, IMAGE_DDInsTablePriv, [&](DDParams& p) {
      p.Int(1, 910).Text(2, kind);
      p.TextLength(3, grantee.data(), static_cast<int32_t>(grantee.size()));
      p.TextLength(5, "_SYSTEM", 7).Text(7, grantable).Text(8, "NO ").Text(9, grantable);
    });
  }
};

// Integer and text fields of a row as the record holds them.
inline std::string IntField(int32_t v, int32_t width = 7) {
  std::vector<uint8_t> b(static_cast<std::size_t>(width), 255);
  value_descriptor d;
  d.precision = 2 * width - 3;
  EXPECT_EQ(int_to_decimal(ByteSpan(b.data(), b.size()), d, v), 0);
  return std::string(b.begin(), b.end());
}
inline std::string TextField(const std::string& s, std::size_t n) { return std::string(1, '\0') + Padded(s, n); }

