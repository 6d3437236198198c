// The catalog tables the lookups and the dictionary's reads and writes work
// on, over record access's real transactions, with the catalog's own rows
// (its self-description in 16, 18, 20 and 22, an object row of every system
// table in schema SYSTEM, the system databank in 15): what a created
// database holds of them.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "catalog_gen.h"
#include "dict/compiler_lookups.h"
#include "dict/dictionary_services.h"
#include "dict/row_image.h"
#include "dict/statement_functions.h"
#include "dict/tests/catalog_fixture.h"
#include "du/record_operations.h"
#include "kernel/statement_columns.h"
#include "kernel/system_block.h"

// Rows of the catalog's tables written and read by record access itself,
// beside the dictionary's statements.
class CatalogRowsTest : public CatalogWorkTest {
 protected:
  void TearDown() override {
    for (auto& r : records_) Close(*r);
    records_.clear();
    CatalogWorkTest::TearDown();
  }

  // A row written by record access in the user's open transaction.
  int32_t InsertRow(int32_t table, const std::vector<uint8_t>& row) {
    auto& r = RecordOf(table);
    std::memcpy(r.data() + DUREC_RECORD, row.data(), row.size());
    r[DUREC_STATUS] = 0;
    NextCursorOrder(usr_);
    DUInsertRow(base_, r.data(), usr_);
    return r[DUREC_STATUS];
  }
  int32_t InsertValues(int32_t table, std::span<const CatalogValue> values) {
    const CatalogTable* t = CatalogFindTable(table);
    std::vector<uint8_t> record(static_cast<size_t>(t->record_length));
    const CatalogRow row{table, 0, static_cast<int32_t>(values.size())};
    if (const int32_t rc = DDRowImage(row, values, record)) return rc;
    return InsertRow(table, record);
  }
  // The stored row of `table` whose key the values give, in the user's
  // transaction: 0 and the row, or 100 when there is none.
  int32_t ReadRow(int32_t table, std::span<const CatalogValue> key, std::vector<uint8_t>* row) {
    const CatalogTable* t = CatalogFindTable(table);
    std::vector<uint8_t> record(static_cast<size_t>(t->record_length));
    const CatalogRow image{table, 0, static_cast<int32_t>(key.size())};
    if (const int32_t rc = DDRowImage(image, key, record)) return rc;
    return ReadRecord(table, record, row);
  }
  // The same, the key the first key-length bytes of `record`.
  int32_t ReadRecord(int32_t table, const std::vector<uint8_t>& record, std::vector<uint8_t>* row) {
    auto& r = RecordOf(table);
    uint8_t* buffer = reinterpret_cast<uint8_t*>(r.data() + DUREC_RECORD);
    std::memcpy(buffer, record.data(), record.size());
    r[DUREC_STATUS] = 0;
    NextCursorOrder(usr_);
    DUReadRowByKey(base_, r.data(), usr_);
    if (r[DUREC_STATUS] == 0) row->assign(buffer, buffer + record.size());
    return r[DUREC_STATUS];
  }
  // The text of a char column of a row read by ReadRow, without its
  // indicator and trailing blanks.
  static std::string Column(const std::vector<uint8_t>& row, int32_t offset, int32_t chars) {
    std::string s(reinterpret_cast<const char*>(row.data()) + offset + 1, chars);
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return row[offset] == 255 ? "<null>" : s;
  }
  std::vector<int32_t>& RecordOf(int32_t table) {
    for (auto& r : records_)
      if ((*r)[DUREC_TNAME] == table) return *r;
    const CatalogTable* t = CatalogFindTable(table);
    records_.push_back(std::make_unique<std::vector<int32_t>>(
        Record(table, 3, t->key_length, t->record_length)));
    EXPECT_EQ(Open(*records_.back()), 0) << table;
    return *records_.back();
  }

  std::vector<std::unique_ptr<std::vector<int32_t>>> records_;
};

class LookupTest : public CatalogRowsTest {
 protected:
  void SetUp() override {
    SetUpCatalog({11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30,
                  31, 32, 33, 36, 38, 39, 40, 41, 42, 43, 51, 54, 55, 56, 148, 149, 150, 151});
    if (HasFatalFailure()) return;
    // The kernel's lists, among them the shared programs' cache.
    ASSERT_EQ(CreateSysLists(base_, sys_), 0);
    // The thread's own user, as the kernel makes it with the thread.
    const int32_t own = thr_ + THR_USR_START, lvl = thr_ + THR_LVL_START;
    W(own + USR_USR) = own;
    W(own + USR_LVL) = lvl;
    W(own + USR_CURSOR_ORDER_NUMBER) = 1;
    W(own + USR_TRANSACTION_VIEW) = 2;
    W(own + USR_TRS) = W(usr_ + USR_TRS);
    W(lvl + LVL_USR) = own;
    Protocol(21);
    // The catalog's own rows, as a created database holds them.
    for (int32_t table : {15, 16, 18, 20, 22}) RecordOf(table);
    ASSERT_EQ(BegWork(), 0);
    for (int32_t k = 0; k < kCatalogSelfRowCount; ++k) {
      const CatalogRow& row = kCatalogSelfRows[k];
      const CatalogTable* t = CatalogFindTable(row.table);
      std::vector<uint8_t> record(static_cast<size_t>(t->record_length));
      ASSERT_EQ(DDRowImage(row, record), 0);
      ASSERT_EQ(InsertRow(row.table, record), 0) << row.table;
    }
    for (int32_t k = 0; k < kCatalogTableCount; ++k) {
      const CatalogTable& t = kCatalogTables[k];
      ASSERT_EQ(InsObject(t.number, 6, CATALOG_SCHEMA, t.name), 0) << t.name;
    }
    const CatalogValue databank[] = {{DATABANKS_DATABANK_ID, 0, 1, nullptr},
                                     {DATABANKS_SEQUENCE_NO, 0, 1, nullptr},
                                     {DATABANKS_LOGICAL_ID, 0, 1, nullptr},
                                     {DATABANKS_DATABANK_NAME, 1, 0, "SYSDB"},
                                     {DATABANKS_DATABANK_TYPE, 1, 0, "N"}};
    ASSERT_EQ(InsertValues(15, databank), 0);
    ASSERT_EQ(EndWork(0), 0);
  }

  int32_t InsObject(int32_t id, int32_t kind, const std::string& schema, const std::string& name) {
    int32_t pb[2] = {0, usr_};
    DDInsObject(base_, pb, id, kind, schema.data(), static_cast<int32_t>(schema.size()),
                name.data(), static_cast<int32_t>(name.size()));
    return pb[0];
  }
  // A base table of `schema` written by the dictionary's inserts: its
  // object and table rows, its columns (name, dictionary type, length,
  // scale) laid out one after the other behind an 8-byte key, each with an
  // indicator byte, and its lengths and column count. 0 or the failing
  // status.
  struct ColumnSpec {
    const char* name;
    int32_t type, length, scale;
    bool nullable = true;
    const char* default_text = nullptr;  // the default's SQL text; none when null
  };
  int32_t InsBaseTable(int32_t id, const std::string& schema, const std::string& name,
                       const std::vector<ColumnSpec>& columns) {
    int32_t pb[2] = {0, usr_};
    DDInsObject(base_, pb, id, 6, schema.data(), static_cast<int32_t>(schema.size()), name.data(),
                static_cast<int32_t>(name.size()));
    if (pb[0] == 0) DDInsTable(base_, pb, id, 1, 6, 8, true, 1);
    InsColumns(pb, id, columns);
    return pb[0];
  }
  // A view of `schema` as CREATE VIEW writes it: its object, table and view
  // rows (the query's text, in 3-byte characters, and whether it takes
  // changes), its columns and its stored tree `image` (item 59). 0 or the
  // failing status.
  int32_t InsView(int32_t id, const std::string& schema, const std::string& name,
                  const std::string& query, bool updatable, const std::vector<ColumnSpec>& columns,
                  const std::string& image, bool cascaded = false) {
    int32_t pb[2] = {0, usr_};
    DDInsObject(base_, pb, id, 7, schema.data(), static_cast<int32_t>(schema.size()), name.data(),
                static_cast<int32_t>(name.size()));
    if (pb[0] == 0) DDInsTable(base_, pb, id, 2, 6, 8, false, 1);
    std::vector<uint8_t> text;
    for (char ch : query) text.insert(text.end(), {0, 0, static_cast<uint8_t>(ch)});
    if (pb[0] == 0) {
      DDInsView(base_, pb, id, cascaded, updatable, text.data(), static_cast<int32_t>(query.size()));
    }
    InsColumns(pb, id, columns);
    if (pb[0] == 0) {
      DDStoreDefinition(base_, pb, id, 0, DD_DEFINITION_TREE,
                        reinterpret_cast<const uint8_t*>(image.data()),
                        static_cast<int32_t>(image.size()));
    }
    return pb[0];
  }
  // The column rows of table `id`, numbered in order and laid one after
  // another from byte 8 of the record (each its length plus one byte), and
  // the table's record lengths and column count. Stops at the first error,
  // left in pb[0] (nothing is written when pb[0] is already set).
  void InsColumns(int32_t* pb, int32_t id, const std::vector<ColumnSpec>& columns) {
    int32_t offset = 8, number = 0;
    for (const ColumnSpec& c : columns) {
      DDColumnDef d;
      d.name = c.name;
      d.name_length = static_cast<int32_t>(std::strlen(c.name));
      d.number = ++number;
      d.type = c.type;
      d.length = c.length;
      d.scale = c.scale;
      d.nullable = c.nullable;
      d.offset = offset;
      d.byte_length = c.length + 1;
      offset += d.byte_length;
      std::vector<uint8_t> text3;
      if (c.default_text != nullptr) {
        for (const char* p = c.default_text; *p != 0; ++p) {
          text3.insert(text3.end(), {0, 0, static_cast<uint8_t>(*p)});
        }
      }
      if (pb[0] == 0) {
        DDInsColumn(base_, pb, id, d, text3.empty() ? nullptr : text3.data(),
                    static_cast<int32_t>(text3.size() / 3));
      }
    }
    if (pb[0] == 0) DDUpdTableInts(base_, pb, id, 8, offset, offset, number);
  }
  // The user's level path: the one schema given, the rest NULL.
  void SetPathTo(const std::string& schema) {
    uint8_t* path = reinterpret_cast<uint8_t*>(&W(W(usr_ + USR_LVL) + LVL_PATH));
    std::memset(path, 255, DD_PATH_BYTES);
    path[0] = 0;
    std::memset(path + 1, ' ', 128);
    std::memcpy(path + 1, schema.data(), std::min<size_t>(schema.size(), 128));
  }
  int32_t TableAttr(const std::string& schema, const std::string& name, DDTableAttr* a,
                    int32_t usr = 0, bool test_privilege = false) {
    int32_t pb[2] = {0, usr != 0 ? usr : usr_};
    DDTableName n;
    n.schema = schema.data();
    n.schema_length = static_cast<int32_t>(schema.size());
    n.name = name.data();
    n.name_length = static_cast<int32_t>(name.size());
    DDCmpTableAttr(base_, pb, n, test_privilege, a);
    return pb[0];
  }

};
