// Record access against SQLite with foreign_keys=ON: a parent table with a
// unique column and a child table referencing it take the same random
// inserts, deletes, updates and key changes (to free keys and to taken ones)
// in short transactions, through the write set and directly, some of them
// between the fetches of a scan; every operation is refused by one exactly
// when the other refuses it, and scans both ways agree inside the open
// transactions and after each end.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "du/tests/change_operations.h"
#include "du/transactions.h"

class Sqlite {
 public:
  Sqlite() {
    EXPECT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
    Exec("PRAGMA foreign_keys=ON");
    Exec("CREATE TABLE p(id INTEGER PRIMARY KEY, u INTEGER UNIQUE, v INTEGER)");
    Exec("CREATE TABLE c(id INTEGER PRIMARY KEY, pid INTEGER REFERENCES p(id), v INTEGER)");
  }
  ~Sqlite() { sqlite3_close(db_); }
  // True when SQLite refused the statement.
  bool Exec(const std::string& sql) {
    char* error = nullptr;
    const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error);
    sqlite3_free(error);
    EXPECT_TRUE(rc == SQLITE_OK || rc == SQLITE_CONSTRAINT) << sql << " " << rc;
    return rc != SQLITE_OK;
  }
  std::vector<RowValue> Rows(const std::string& table) {
    std::vector<RowValue> rows;
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db_,
                       ("SELECT id, " + std::string(table == "p" ? "u" : "pid") + ", v FROM " +
                        table + " ORDER BY id")
                           .c_str(),
                       -1, &stmt, nullptr);
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      RowValue r;
      r.id = sqlite3_column_int64(stmt, 0);
      if (sqlite3_column_type(stmt, 1) != SQLITE_NULL) r.ref = sqlite3_column_int64(stmt, 1);
      r.v = sqlite3_column_int64(stmt, 2);
      rows.push_back(r);
    }
    sqlite3_finalize(stmt);
    return rows;
  }
  bool Has(const std::string& table, int64_t id) {
    for (const RowValue& r : Rows(table))
      if (r.id == id) return true;
    return false;
  }

 private:
  sqlite3* db_ = nullptr;
};

inline std::string Sql(const std::optional<int64_t>& v) {
  return v ? std::to_string(*v) : "NULL";
}

// The comparison over the change calls of `ChangeBase` (a ChangeTestOn).
template <class ChangeBase>
class SqliteComparison : public ChangeBase {
 protected:
  using ChangeBase::child_;
  using ChangeBase::parent_;

  // One random operation on both; false when they disagree.
  void Step(std::mt19937& rng) {
    const bool on_parent = rng() % 2 == 0;
    std::vector<int32_t>& r = on_parent ? parent_ : child_;
    const std::string table = on_parent ? "p" : "c";
    const int64_t id = 1 + rng() % 24;
    auto reference = [&]() -> std::optional<int64_t> {
      if (rng() % 5 == 0) return std::nullopt;
      return on_parent ? 1 + static_cast<int64_t>(rng() % 16)
                       : 1 + static_cast<int64_t>(rng() % 26);
    };
    const std::string column = on_parent ? "u" : "pid";
    const int kind = static_cast<int>(rng() % 5);
    bool refused_sqlite = false;
    int32_t status = 0;
    std::string what;
    if (kind == 0) {
      const RowValue row{id, reference(), static_cast<int64_t>(rng() % 1000)};
      what = "insert " + table + " " + std::to_string(id);
      refused_sqlite = sql_.Exec("INSERT INTO " + table + " VALUES(" + std::to_string(id) + "," +
                                 Sql(row.ref) + "," + std::to_string(row.v) + ")");
      status = this->Insert(r, row);
    } else if (kind == 1) {
      what = "delete " + table + " " + std::to_string(id);
      refused_sqlite = sql_.Exec("DELETE FROM " + table + " WHERE id=" + std::to_string(id));
      status = this->Delete(r, id);
      if (status == DU_NO_ROW) status = 0;
    } else {
      // An update of the other columns, (kind 3) a change of the key to a
      // free one, or (kind 4) to any key, another row's included.
      int64_t to = id;
      if (kind == 3)
        for (to = 1 + rng() % 40; sql_.Has(table, to); to = 1 + rng() % 40) {
        }
      if (kind == 4) to = 1 + static_cast<int64_t>(rng() % 24);
      const RowValue row{to, reference(), static_cast<int64_t>(rng() % 1000)};
      what = "update " + table + " " + std::to_string(id) + " to " + std::to_string(to);
      refused_sqlite = sql_.Exec("UPDATE " + table + " SET id=" + std::to_string(to) + "," +
                                 column + "=" + Sql(row.ref) + ",v=" + std::to_string(row.v) +
                                 " WHERE id=" + std::to_string(id));
      status = this->Update(r, id, row);
      if (status == DU_NO_ROW) status = 0;
    }
    const bool refused_du = status != 0;
    EXPECT_EQ(refused_du, refused_sqlite) << what << " status " << status;
    if (refused_du) {
      EXPECT_TRUE(status == 1 || status == -10101 || status == -10110 || status == -10105 ||
                  status == -10106)
          << what << " status " << status;
      ++codes_[status];
    }
    ++(refused_du ? refused_ : done_);
  }

  void Compare(const char* when) {
    EXPECT_EQ(this->Scan(parent_, true), sql_.Rows("p")) << when;
    EXPECT_EQ(this->Scan(parent_, false), sql_.Rows("p")) << when;
    EXPECT_EQ(this->Scan(child_, true), sql_.Rows("c")) << when;
    EXPECT_EQ(this->Scan(child_, false), sql_.Rows("c")) << when;
  }

  // A scan of one table resumed after random changes of both tables made
  // between its fetches: each fetch delivers the first row after the last
  // one delivered, as the tables stand at that fetch.
  void ScanAcrossChanges(std::mt19937& rng) {
    const bool on_parent = rng() % 2 == 0, forward = rng() % 2 == 0;
    const std::string table = on_parent ? "p" : "c";
    this->NextStatement();
    std::vector<int32_t> s = on_parent ? parent_ : child_;
    std::memset(this->Buffer(s), forward ? 0 : 255, 8);
    s[DUREC_FETCH_CODE] = forward ? 1 : 2;
    s[DUREC_STATUS] = 0;
    std::optional<int64_t> last;
    for (int n = 0; n < 100 && !::testing::Test::HasFailure(); ++n) {
      DUFetchRow(this->base_, s.data(), this->usr_, this->work_);
      std::optional<RowValue> want;
      for (const RowValue& row : sql_.Rows(table)) {
        if (forward && (!last || row.id > *last)) {
          want = row;
          break;
        }
        if (!forward && (!last || row.id < *last)) want = row;
      }
      const std::string at = table + (forward ? " forward" : " backward") + " after " +
                             (last ? std::to_string(*last) : std::string("the start"));
      if (!want) {
        EXPECT_EQ(s[DUREC_STATUS], DU_NO_ROW) << at;
        return;
      }
      ASSERT_EQ(s[DUREC_STATUS], 0) << at;
      EXPECT_EQ(this->Get(s), *want) << at;
      last = want->id;
      s[DUREC_STATUS] = 0;
      for (int k = static_cast<int>(rng() % 3); k > 0; --k) Step(rng);
    }
  }

  Sqlite sql_;
  int refused_ = 0, done_ = 0;
  std::map<int32_t, int> codes_;  // refusals by status

  // Random changes in short transactions, through the write set (`merge`)
  // or directly, compared with SQLite after each and inside the
  // transactions.
  void RunRandomChanges(bool merge) {
    this->OpenTables(merge);
    std::mt19937 rng(merge ? 20 : 21);
    for (int t = 0; t < 120 && !::testing::Test::HasFailure(); ++t) {
      ASSERT_EQ(this->Begin(1), 0);
      sql_.Exec("BEGIN");
      const int ops = 1 + static_cast<int>(rng() % 5);
      for (int k = 0; k < ops && !::testing::Test::HasFailure(); ++k) {
        Step(rng);
        if (merge && k % 2 == 1) Compare("inside the transaction");
      }
      if (rng() % 3 == 0) ScanAcrossChanges(rng);
      // Rolled back now and then where the changes wait in the write set.
      const bool rollback = merge && rng() % 5 == 0;
      ASSERT_EQ(this->End(rollback ? END_ROLLBACK : END_AFTER_SUCCESS), 0);
      sql_.Exec(rollback ? "ROLLBACK" : "COMMIT");
      Compare("after the end");
    }
    EXPECT_GT(done_, 150);
    // Every kind of refusal took place.
    for (int32_t code : {1, -10101, -10110, -10105, -10106}) EXPECT_GT(codes_[code], 0) << code;
  }
};
