// Large objects: identifiers from the directory's key generator, directory
// rows and their reference counts as rows holding an object are inserted,
// updated and deleted (directly and through the write set), the pages freed
// with the last reference, and the directory rows of a dropped table.
#include "du/large_objects.h"

#include <cstring>

#include "du/alter_table.h"
#include "du/record_operations.h"
#include "du/tests/table_fixture.h"
#include "platform/bytes.h"

namespace {

struct Freed {
  static std::vector<std::vector<int32_t>>& Runs() {
    static std::vector<std::vector<int32_t>> runs;
    return runs;
  }
  static void Dispatch(int32_t code, int32_t* block, void* argument) {
    if (code != 61) {
      block[0] = -43;
      return;
    }
    std::vector<int32_t> run(block + 3, block + 7);
    run.push_back(*static_cast<int32_t*>(argument));
    Runs().push_back(run);
    block[0] = 0;
  }
};

class LargeObjectTest : public ModelTableTest {
 protected:
  static constexpr int32_t kTable = 40, kOther = 41, kDirectory = 50;
  static constexpr int32_t kRecLen = 40, kColumn = 16;

  LargeObjectTest() {
    for (int32_t t : {kTable, kOther}) {
      std::vector<int32_t> d = Description(kLid, 8, kRecLen, 700 + t, {}, {});
      d.pop_back();
      d.insert(d.end(), {DESC_LOB_COLUMNS, 2, 1, 1, 8, 31, kColumn, DESC_END});
      upper_.descriptions[t] = d;
    }
    upper_.descriptions[kDirectory] = Description(kLid, LDIR_KEY_BYTES, LDIR_BYTES, 0, {}, {});
    previous2_ = DUInstallKernelDispatcher2(&Freed::Dispatch);
    Freed::Runs().clear();
    W(dcb_ + DCB_MASTER_SEQNO) = 77;
  }
  ~LargeObjectTest() override { DUInstallKernelDispatcher2(previous2_); }

  void OpenAll(bool merge) {
    W(dcb_ + DCB_TRANS_MODE) = merge ? 3 : 1;
    table_ = Record(kTable, 3, 8, kRecLen);
    other_ = Record(kOther, 3, 8, kRecLen);
    directory_ = Record(kDirectory, 3, LDIR_KEY_BYTES, LDIR_BYTES);
    ASSERT_EQ(Open(table_), 0);
    ASSERT_EQ(Open(other_), 0);
    ASSERT_EQ(Open(directory_), 0);
    W(dcb_ + DCB_LOBDIR_TCB) = directory_[DUREC_OBJECT];
    if (merge) {
      ASSERT_EQ(Begin(1), 0);
    }
  }

  static uint8_t* Row(std::vector<int32_t>& r) {
    return reinterpret_cast<uint8_t*>(r.data() + DUREC_RECORD);
  }
  // A new identifier with its directory row (count 0) at location {id0 ...}.
  std::vector<int32_t> NewObject(std::vector<int32_t>& r) {
    std::vector<int32_t> d(LOBD_WORDS, 0);
    int32_t status = 1;
    DUGetLobdir1(base_, &status, d.data(), r.data());
    EXPECT_EQ(status, 0);
    d[LOBD_PART] = 0;
    for (int32_t k = 0; k < 4; ++k) d[LOBD_LOCATION + k] = 1000 * d[1] + k;
    DUInsLobdir1(base_, &status, r.data(), usr_, d.data());
    EXPECT_EQ(status, 0);
    return {d.begin(), d.begin() + 3};
  }
  // Key 8 bytes, the column at 16: the identifier and its indicator.
  int32_t Insert(std::vector<int32_t>& r, int64_t key, const std::vector<int32_t>& id,
                 uint8_t indicator = 0) {
    std::memset(Row(r), 0, kRecLen);
    store_be32(Row(r) + 4, static_cast<uint32_t>(key));
    if (!id.empty()) std::memcpy(Row(r) + kColumn, id.data(), LOB_ID_BYTES);
    Row(r)[kColumn + LOB_ID_BYTES] = indicator;
    DUInsertRow(base_, r.data(), usr_);
    return r[DUREC_STATUS];
  }
  int32_t Read(std::vector<int32_t>& r, int64_t key) {
    std::memset(Row(r), 0, kRecLen);
    store_be32(Row(r) + 4, static_cast<uint32_t>(key));
    DUReadRowByKey(base_, r.data(), usr_);
    return r[DUREC_STATUS];
  }
  int32_t Delete(std::vector<int32_t>& r, int64_t key) {
    if (int32_t rc = Read(r, key); rc != 0) return rc;
    DUDEL1(base_, r.data(), usr_);
    return r[DUREC_STATUS];
  }
  int32_t Update(std::vector<int32_t>& r, int64_t key, const std::vector<int32_t>& id) {
    if (int32_t rc = Read(r, key); rc != 0) return rc;
    DUPrepareForUpdate(base_, r.data(), usr_);
    if (r[DUREC_STATUS] != 0) return r[DUREC_STATUS];
    std::memcpy(Row(r) + kColumn, id.data(), LOB_ID_BYTES);
    r[DUREC_STATUS] = 0;
    DURowOp1(base_, r.data(), usr_);
    return r[DUREC_STATUS];
  }
  // The stored directory row of the identifier, empty when there is none.
  std::string DirectoryRow(const std::vector<int32_t>& id) {
    for (const auto& [key, row] : kernel_.rows[directory_[DUREC_TBL]])
      if (load_be32(reinterpret_cast<const uint8_t*>(key.data())) == uint32_t(id[0]) &&
          load_be32(reinterpret_cast<const uint8_t*>(key.data()) + 4) == uint32_t(id[1]) &&
          load_be32(reinterpret_cast<const uint8_t*>(key.data()) + 8) == uint32_t(id[2]))
        return row;
    return {};
  }
  int32_t Count(const std::vector<int32_t>& id) {
    const std::string row = DirectoryRow(id);
    if (row.empty()) return -1;
    return static_cast<int32_t>(load_le32(reinterpret_cast<const uint8_t*>(row.data()) + 36));
  }

  std::vector<int32_t> table_, other_, directory_;
  DUKernelDispatcher2 previous2_ = nullptr;
};

TEST_F(LargeObjectTest, DirectoryRowHasItsBytes) {
  OpenAll(false);
  const std::vector<int32_t> id = NewObject(table_);
  ASSERT_EQ(Insert(table_, 1, id), 0);
  const std::string row = DirectoryRow(id);
  ASSERT_EQ(row.size(), size_t(LDIR_BYTES));
  const uint8_t* r = reinterpret_cast<const uint8_t*>(row.data());
  EXPECT_EQ(load_be32(r + 0), uint32_t(id[0]));
  EXPECT_EQ(load_be32(r + 4), uint32_t(id[1]));
  EXPECT_EQ(load_be32(r + 8), uint32_t(kTable));
  EXPECT_EQ(load_be32(r + 12), 77u);
  EXPECT_EQ(load_be32(r + 16), 0u);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(load_le32(r + 20 + 4 * k), uint32_t(1000 * id[1] + k));
  EXPECT_EQ(load_le32(r + 36), 1u);
  EXPECT_EQ(load_le32(r + 40), 0u);
}

TEST_F(LargeObjectTest, TwoTablesNeverGetOneIdentifier) {
  OpenAll(false);
  int32_t a[3], b[3], status = 1;
  DUGetLobdir1(base_, &status, a, table_.data());
  ASSERT_EQ(status, 0);
  kernel_.generated_low = 0;  // the generator hands out the same numbers again
  DUGetLobdir1(base_, &status, b, other_.data());
  ASSERT_EQ(status, 0);
  EXPECT_EQ(a[0], b[0]);
  EXPECT_EQ(a[1], b[1]);
  EXPECT_NE(std::memcmp(a, b, 12), 0);
  EXPECT_EQ(a[2], kTable);
  EXPECT_EQ(b[2], kOther);
}

TEST_F(LargeObjectTest, AnObjectOfTwoRowsSurvivesOneDeleteAndGoesWithTheSecond) {
  OpenAll(false);
  const std::vector<int32_t> id = NewObject(table_);
  EXPECT_EQ(Count(id), 0);
  ASSERT_EQ(Insert(table_, 1, id), 0);
  ASSERT_EQ(Insert(table_, 2, id), 0);
  EXPECT_EQ(Count(id), 2);
  ASSERT_EQ(Delete(table_, 1), 0);
  EXPECT_EQ(Count(id), 1);
  EXPECT_TRUE(Freed::Runs().empty());
  ASSERT_EQ(Delete(table_, 2), 0);
  EXPECT_EQ(Count(id), -1);
  ASSERT_EQ(Freed::Runs().size(), 1u);
  EXPECT_EQ(Freed::Runs()[0],
            (std::vector<int32_t>{1000 * id[1], 1000 * id[1] + 1, 1000 * id[1] + 2,
                                  1000 * id[1] + 3, W(dcb_ + DCB_DID)}));
}

TEST_F(LargeObjectTest, ThroughTheWriteSetTheCountsChangeWithTheTransaction) {
  OpenAll(true);
  const std::vector<int32_t> id = NewObject(table_);
  EXPECT_EQ(W(Tp() + TP_FLUSH_LOB_FLAG), 1);
  ASSERT_EQ(Insert(table_, 1, id), 0);
  ASSERT_EQ(Insert(table_, 2, id), 0);
  EXPECT_EQ(Count(id), -1);  // nothing stored before the commit
  ASSERT_EQ(End(84), 0);
  EXPECT_EQ(Count(id), 2);
  ASSERT_EQ(Begin(1), 0);
  ASSERT_EQ(Delete(table_, 1), 0);
  ASSERT_EQ(End(84), 0);
  EXPECT_EQ(Count(id), 1);
  ASSERT_EQ(Begin(1), 0);
  ASSERT_EQ(Delete(table_, 2), 0);
  ASSERT_EQ(End(84), 0);
  EXPECT_EQ(Count(id), -1);
  EXPECT_TRUE(Freed::Runs().empty());  // the kernel frees the pages as it applies the delete
}

TEST_F(LargeObjectTest, NullOrZeroIdentifiersTouchNoDirectoryRow) {
  OpenAll(false);
  const std::vector<int32_t> id = NewObject(table_);
  // The same requests with the directory there and taken away.
  auto requests = [&](int64_t key) {
    const int32_t before = kernel_.Sent(DK_FET1) + kernel_.Sent(DK_UPD1) + kernel_.Sent(DK_DEL1);
    EXPECT_EQ(Insert(table_, key, id, kNullIndicator), 0);
    EXPECT_EQ(Insert(table_, key + 1, {0, 0, 0}), 0);
    EXPECT_EQ(Delete(table_, key), 0);
    EXPECT_EQ(Delete(table_, key + 1), 0);
    return kernel_.Sent(DK_FET1) + kernel_.Sent(DK_UPD1) + kernel_.Sent(DK_DEL1) - before;
  };
  const int32_t with_directory = requests(1);
  W(dcb_ + DCB_LOBDIR_TCB) = 0;
  EXPECT_EQ(requests(3), with_directory);
  EXPECT_EQ(Count(id), 0);
  EXPECT_TRUE(Freed::Runs().empty());
}

TEST_F(LargeObjectTest, AnUpdateMovesTheReference) {
  OpenAll(false);
  const std::vector<int32_t> x = NewObject(table_), y = NewObject(table_);
  ASSERT_EQ(Insert(table_, 1, x), 0);
  ASSERT_EQ(Insert(table_, 2, x), 0);
  ASSERT_EQ(Update(table_, 1, y), 0);
  EXPECT_EQ(Count(x), 1);
  EXPECT_EQ(Count(y), 1);
  ASSERT_EQ(Update(table_, 2, y), 0);
  EXPECT_EQ(Count(x), -1);
  EXPECT_EQ(Count(y), 2);
  EXPECT_EQ(Freed::Runs().size(), 1u);
}

TEST_F(LargeObjectTest, DroppedTableLosesItsDirectoryRowsOnly) {
  OpenAll(false);
  const std::vector<int32_t> a = NewObject(table_), b = NewObject(other_);
  int32_t status = -1;
  DULobDropTable(base_, &status, table_[DUREC_OBJECT], usr_);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Count(a), -1);
  EXPECT_EQ(Count(b), 0);
}

TEST_F(LargeObjectTest, WithoutDirectoryTheCallsSaySo) {
  OpenAll(false);
  W(dcb_ + DCB_LOBDIR_TCB) = 0;
  int32_t id[3], status = 0;
  DUGetLobdir1(base_, &status, id, table_.data());
  EXPECT_EQ(status, LOB_NO_DIRECTORY);
  int32_t d[LOBD_WORDS] = {1, 2, kTable};
  DUInsLobdir1(base_, &status, table_.data(), usr_, d);
  EXPECT_EQ(status, LOB_NO_DIRECTORY);
  DUGetLob1(base_, &status, table_.data(), usr_, d);
  EXPECT_EQ(status, LOB_NOT_FOUND);
  DULobRelease(base_, &status, table_.data(), usr_, reinterpret_cast<const uint8_t*>(d));
  EXPECT_EQ(status, LOB_NO_DIRECTORY);
  DULobDropTable(base_, &status, table_[DUREC_OBJECT], usr_);
  EXPECT_EQ(status, 1);
  // A row that holds an object cannot be counted; one without can be stored.
  EXPECT_EQ(Insert(table_, 1, {1, 2, kTable}), LOB_NOT_FOUND);
  EXPECT_EQ(Insert(table_, 2, {}, kNullIndicator), 0);
}

TEST_F(LargeObjectTest, DescriptorReadsBackTheLocation) {
  OpenAll(false);
  const std::vector<int32_t> id = NewObject(table_);
  int32_t d[LOBD_WORDS] = {id[0], id[1], id[2]};
  int32_t status = 1;
  DUGetLob1(base_, &status, table_.data(), usr_, d);
  ASSERT_EQ(status, 0);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(d[LOBD_LOCATION + k], 1000 * id[1] + k);
  // A second insert of the same row is a duplicate, reported.
  int32_t again[LOBD_WORDS] = {id[0], id[1], id[2]};
  DUInsLobdir1(base_, &status, table_.data(), usr_, again);
  EXPECT_GT(status, 0);
  EXPECT_TRUE(log_.Has("DUInsLobdir1"));
}

// A record block that names no table (TNAME -1) finds the databank through
// the open table the identifier names.
TEST_F(LargeObjectTest, WithoutTableTheIdentifierFindsTheDatabank) {
  OpenAll(false);
  const std::vector<int32_t> id = NewObject(table_);
  std::vector<int32_t> request(table_.size(), 0);
  request[DUREC_TNAME] = -1;
  int32_t d[LOBD_WORDS] = {id[0], id[1], id[2]};
  int32_t status = 1;
  DUGetLob1(base_, &status, request.data(), usr_, d);
  ASSERT_EQ(status, 0);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(d[LOBD_LOCATION + k], 1000 * id[1] + k);
  // A table that is not open.
  int32_t unknown[LOBD_WORDS] = {id[0], id[1], 999};
  DUGetLob1(base_, &status, request.data(), usr_, unknown);
  EXPECT_EQ(status, LOB_NOT_FOUND);
}

// ALTER TABLE dropping the large-object column: every row's column becomes
// null and every object's references go before the kernel alters the table.
TEST_F(LargeObjectTest, DroppingTheColumnReleasesEveryObject) {
  OpenAll(false);
  const std::vector<int32_t> x = NewObject(table_), y = NewObject(table_);
  ASSERT_EQ(Insert(table_, 1, x), 0);
  ASSERT_EQ(Insert(table_, 2, x), 0);
  ASSERT_EQ(Insert(table_, 3, y), 0);
  ASSERT_EQ(Count(x), 2);
  std::vector<int32_t> block(80, 0);
  block[ALR_OLD_KEYLEN] = 8;
  block[ALR_OLD_RECLEN] = kRecLen;
  block[ALR_CAPACITY] = 80;
  block[ALR_NEW_KEYLEN] = 8;
  block[ALR_NEW_RECLEN] = kRecLen - LOB_COLUMN_BYTES;
  int32_t status = 0;
  DUALRDropColumn1(&status, block, kColumn, LOB_COLUMN_BYTES, 0, 0, 31);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(block[ALR_KIND], 12);
  std::vector<int32_t> structure(ALS_MAX_WORDS, 0);
  std::vector<int32_t> fresh = table_;
  const std::vector<uint8_t> image(kRecLen, 0);
  int32_t length = 0;
  // The model kernel does not know DKALR1; the objects are gone before it.
  EXPECT_EQ(DULPO1(base_, usr_, 0, table_.data(), structure, block, image, fresh.data(), &length),
            -43 - 16140);
  EXPECT_EQ(block[ALR_KIND], 10);
  EXPECT_EQ(Count(x), -1);
  EXPECT_EQ(Count(y), -1);
  EXPECT_EQ(Freed::Runs().size(), 2u);
  for (int64_t key : {1, 2, 3}) {
    ASSERT_EQ(Read(table_, key), 0);
    EXPECT_EQ(Row(table_)[kColumn + LOB_ID_BYTES], kNullIndicator);
  }
}

}  // namespace
