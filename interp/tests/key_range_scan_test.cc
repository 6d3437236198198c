// An index scan that repositions: a program over record access (the
// databank kernel model of record access's own tests) fetches rows of a
// two-column key, tests them with SNF and SCF and lets SKP turn each hint
// into the next fetch's search key. For random ranges it must deliver
// exactly SQLite's rows, in key order, while skipping most of the others.
#include <sqlite3.h>

#include <random>
#include <string>
#include <vector>

#include "du/record_operations.h"
#include "interp/machine.h"
#include "interp/program_layout.h"
#include "interp/record_services.h"
#include "interp/tests/record_access_program.h"
#include "platform/packed_decimal.h"
#include "platform/thread_slots.h"
#include "tools/zasm/zasm.h"

namespace {

// Key: A DECIMAL(5) (4 bytes), B CHAR(2) (3 bytes), the row number (4 bytes
// big-endian); the row is the key.
constexpr int32_t kTbl = 7, kKey = 11;

int g_fetches = 0;

void CountedGetRow(int32_t* base, int32_t* rec, int32_t usr, int32_t work) {
  ++g_fetches;
  DUGetRow(base, rec, usr, work);
}

// a >= LO AND a <= HI AND b = BV; each row found is handed out by EXI.
constexpr const char* kScan = R"(field T table 7 key 11 reclen 11
field A alias T 116 4
field B alias T 120 3
field ID alias T 123 4
field LO decimal 5
field HI decimal 5
field BV char 2
field H0 word
field H1 word
field H2 word
field H3 word
field H4 word
field H5 word
field H6 word
field H7 word
field H8 word
field H9 word
code
  BEG
  IGN T
loop: GNR T, done
  SNF 2, A, 5, LO, 5, skip, H0
  SNF 3, A, 5, HI, 5, skip, H0
  SCF 1, B, 2, BV, 2, skip, H0
  EXI 2
  JMC loop
skip: SKP T, H0
  JMC loop
done: END 1
)";

class KeyRangeScan : public ProgramOverRecordAccessTest {
 protected:
  KeyRangeScan() : ProgramOverRecordAccessTest(CountedGetRow) {
    std::string error;
    EXPECT_TRUE(zasm::Assemble(kScan, "scan.zasm", &asm_, &error)) << error;
  }
  ByteSpan Storage() {
    return ByteSpan(reinterpret_cast<uint8_t*>(storage_.data()), storage_.size() * 4);
  }
  uint8_t* At(const char* field) {
    return reinterpret_cast<uint8_t*>(storage_.data()) + asm_.fields.at(field);
  }
  // Runs the scan for the range; the row numbers delivered.
  std::vector<int32_t> Scan(const int* lo, const int* hi, const std::string& bv) {
    storage_.assign(asm_.words.begin() + asm_.words[interp::kDescStorageOffset], asm_.words.end());
    int32_t* rec = storage_.data() + asm_.fields.at("T") / 4;
    rec[DUREC_TBL] = kTbl;
    rec[DUREC_MERGE] = 2;
    for (auto [field, value] : {std::pair{"LO", lo}, std::pair{"HI", hi}}) {
      const value_descriptor d{asm_.fields.at(field), 5};
      if (value == nullptr)
        decimal_set_null(Storage(), d);
      else
        int_to_decimal(Storage(), d, *value);
    }
    At("BV")[0] = 0;
    std::memcpy(At("BV") + 1, bv.data(), 2);
    std::vector<int32_t> ids;
    const int32_t start = asm_.words[interp::kDescProgramStart];
    const int32_t at = asm_.words[interp::kDescStorageOffset];
    char name[128];
    std::memset(name, ' ', sizeof name);
    int32_t pos = 2, rvec[12] = {};
    for (int exits = 0; exits <= 20000; ++exits) {
      interp::DAMAE2(base_, rvec, asm_.words.data() + start, at - start, storage_.data(),
                     static_cast<int32_t>(storage_.size()), &pos, name, usr_);
      if (rvec[interp::kStateAction] != interp::kActionExit) break;
      const uint8_t* id = At("ID");
      ids.push_back(id[0] << 24 | id[1] << 16 | id[2] << 8 | id[3]);
    }
    EXPECT_EQ(rvec[interp::kStateReturnCode], 1) << "the scan failed";
    return ids;
  }

  zasm::Assembly asm_;
  std::vector<int32_t> storage_;
};

TEST_F(KeyRangeScan, RandomRangesDeliverSqlitesRows) {
  constexpr int kRows = 10000;
  std::mt19937 rng(124);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  sqlite3_exec(db, "CREATE TABLE t(id INTEGER, a INTEGER, b TEXT)", nullptr, nullptr, nullptr);
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* ins = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?,?,?)", -1, &ins, nullptr);
  const char* const kBs[] = {"aa", "ab", "ba", "bb", "ca"};
  for (int id = 1; id <= kRows; ++id) {
    const bool a_null = rng() % 50 == 0, b_null = rng() % 20 == 0;
    const int a = static_cast<int>(rng() % 200) - 20;
    const std::string b = kBs[rng() % 5];
    std::string key(kKey, '\0');
    uint8_t* k = reinterpret_cast<uint8_t*>(key.data());
    if (a_null)
      decimal_set_null(ByteSpan(k, kKey), value_descriptor{0, 5});
    else
      int_to_decimal(ByteSpan(k, kKey), value_descriptor{0, 5}, a);
    k[4] = b_null ? 255 : 0;
    k[5] = b_null ? 255 : static_cast<uint8_t>(b[0]);
    k[6] = b_null ? 255 : static_cast<uint8_t>(b[1]);
    for (int j = 0; j < 4; ++j) k[7 + j] = static_cast<uint8_t>(id >> (24 - 8 * j));
    kernel_.rows[kTbl][key] = key;
    sqlite3_bind_int(ins, 1, id);
    if (a_null)
      sqlite3_bind_null(ins, 2);
    else
      sqlite3_bind_int(ins, 2, a);
    if (b_null)
      sqlite3_bind_null(ins, 3);
    else
      sqlite3_bind_text(ins, 3, b.c_str(), 2, SQLITE_TRANSIENT);
    sqlite3_step(ins);
    sqlite3_reset(ins);
  }
  sqlite3_finalize(ins);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);

  int total_fetches = 0, total_rows = 0;
  for (int round = 0; round < 40; ++round) {
    int lo = static_cast<int>(rng() % 240) - 30, hi = static_cast<int>(rng() % 240) - 30;
    if (round % 4 != 0 && lo > hi) std::swap(lo, hi);
    const std::string bv = kBs[rng() % 5];
    const bool null_low = round == 7;
    g_fetches = 0;
    const std::vector<int32_t> ours = Scan(null_low ? nullptr : &lo, &hi, bv);
    total_fetches += g_fetches;
    const std::string q =
        "SELECT id FROM t WHERE a >= " + (null_low ? "NULL" : std::to_string(lo)) +
        " AND a <= " + std::to_string(hi) + " AND b = '" + bv + "' ORDER BY a, b, id";
    std::vector<int32_t> theirs;
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, q.c_str(), -1, &st, nullptr), SQLITE_OK);
    while (sqlite3_step(st) == SQLITE_ROW) theirs.push_back(sqlite3_column_int(st, 0));
    sqlite3_finalize(st);
    total_rows += static_cast<int>(theirs.size());
    ASSERT_EQ(ours, theirs) << q;
  }
  // The scans skip: far fewer fetches than 40 full scans would take.
  EXPECT_LT(total_fetches, 40 * kRows / 4) << total_rows << " rows delivered";
  sqlite3_close(db);
}

}  // namespace
