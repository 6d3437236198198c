// The kernel core over a started databank kernel in a scratch directory
// that is the current directory for the test: databank files made by the
// databank kernel itself, a THR in thread-local slot 1 with a databank
// statement, and a fake interpreter answering canned catalog rows per LID.
#pragma once

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "dk/request.h"
#include "dk/table_entries.h"
#include "kernel/databank_control.h"
#include "kernel/tests/core_fixture.h"
#include "kernel/tests/statement_fixture.h"

struct DatabankRow {
  std::string name, file, type = "N", offline = "N", shadow = "N";
  int32_t seqno = 1, lobdir = 0;
};

// Rows the fake interpreter hands out for the LID in parameter 1.
inline std::map<int32_t, std::vector<DatabankRow>> g_rows;
inline int32_t g_row_at = 0;
inline int32_t g_statement_error = 0;  // a negative status for the next run

inline void FakeDatabankRows(int32_t* base, int32_t* result, int32_t stm, int32_t usr) {
  (void)usr;
  std::memset(result, 0, 13 * sizeof(int32_t));
  int32_t& pc = sqlpool_word(base, stm + STM_PC);
  if (g_statement_error != 0) {
    result[0] = result[1] = g_statement_error;
    return;
  }
  if (pc == 2) g_row_at = 0;
  bool null = false;
  const auto& rows = g_rows[ParameterInt(base, stm, 1, &null)];
  if (g_row_at >= static_cast<int32_t>(rows.size())) {
    pc = 0;
    return;
  }
  const DatabankRow& r = rows[g_row_at++];
  PutColumnText(base, stm, DBROW_NAME, r.name);
  PutColumnInt(base, stm, DBROW_SEQNO, r.seqno);
  PutColumnText(base, stm, DBROW_FILE, r.file);
  PutColumnInt(base, stm, DBROW_LOBDIR, r.lobdir);
  PutColumnText(base, stm, DBROW_TYPE, r.type);
  PutColumnText(base, stm, DBROW_SHADOW, r.shadow);
  PutColumnText(base, stm, DBROW_OFFLINE, r.offline);
  pc = 3;
}

// Record access's LOB directory open: a made-up TCB number per call.
inline int32_t g_lobdir_opens = 0;
inline int32_t FakeOpenTableChain(int32_t*, int32_t, const int32_t* request, int32_t* tcb) {
  ++g_lobdir_opens;
  *tcb = 7000 + request[2];
  return 0;
}
inline int32_t FakeCloseTables(int32_t*, int32_t, int32_t) {
  return 0;
}

class DatabankTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    int32_t counts[4] = {0, 30, 30, 30};
    int32_t pages[3] = {64, 32, 0};
    int32_t threads[5] = {2, 2, 0, 10, 0};
    int32_t rc = 0;
    DKCheckParams(&rc, counts, pages, threads);
    ASSERT_EQ(rc, 0);
    std::string name = "KTEST";
    DKSTA9(&rc, name.data(), static_cast<int32_t>(name.size()), counts, pages, threads, 0);
    ASSERT_EQ(rc, 0);
    char tmpl[] = "/tmp/kernel_dcb_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    old_dir_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    g_rows.clear();
    g_statement_error = 0;
    g_lobdir_opens = 0;
    services_.damae2 = FakeDatabankRows;
    services_.du_open_table_chain = FakeOpenTableChain;
    services_.du_close_tables = FakeCloseTables;
    thr_ = Alloc(THR_BYTES);
    SetSlot(TLS_SLOT_THR, thr_);
    W(thr_, THR_STM_MOS_DATABANK) = MakeStatement(base_, {8, 8}, {129, 8, 257, 8, 2, 2, 2, 2});
  }
  void TearDown() override {
    int32_t cls[CLS_WORDS] = {2, 0, -1};
    DSCloseDcb(base_, cls);
    int32_t rc = 0;
    DKShutdown(&rc);
    std::filesystem::current_path(old_dir_);
    std::filesystem::remove_all(dir_);
    CoreTest::TearDown();
  }

  // Makes a databank file through the databank kernel and closes it again.
  void MakeFile(const std::string& file, int32_t lid, int32_t type, int32_t seqno = 1) {
    int32_t crd[CRD_WORDS] = {};
    crd[CRD_MODE] = -2;
    crd[CRD_UNITS] = 8;
    crd[CRD_DID] = lid;
    crd[CRD_SEQNO] = seqno;
    crd[CRD_TYPE] = type;
    Text(crd + CRD_FILE, file, 256);
    Text(crd + CRD_NAME, file, 128);
    DKEXE1(15, crd);
    ASSERT_EQ(crd[CRD_MODE], 0) << file;
    int32_t cld[4] = {1, 0, lid, -1};
    DKEXE1(DKF_CLD1, cld);
    ASSERT_EQ(cld[0], 0);
  }
  static void Text(int32_t* words, const std::string& s, int32_t bytes) {
    char* p = reinterpret_cast<char*>(words);
    std::memset(p, ' ', bytes);
    std::memcpy(p, s.data(), s.size());
  }
  // A session on a channel, made current for the calling thread.
  int32_t Session() {
    const int32_t cha = Alloc(CHA_BYTES), usr = Alloc(USR_BYTES);
    W(cha, CHA_USR) = usr;
    W(usr, USR_CHA) = cha;
    return cha;
  }
  std::vector<int32_t> Open(int32_t kind, int32_t lid) {
    std::vector<int32_t> rq(OPD_WORDS, 0);
    rq[OPD_KIND] = kind;
    rq[OPD_LID] = lid;
    DSOpenDcb(base_, rq.data());
    return rq;
  }
  int32_t Close(int32_t mode, int32_t lid, int32_t ref = -1) {
    int32_t cls[CLS_WORDS] = {mode, lid, ref};
    DSCloseDcb(base_, cls);
    return cls[0];
  }
  int32_t Find(int32_t lid) {
    std::vector<int32_t> rq = Open(5, lid);
    return rq[OPD_KIND] == 0 ? rq[OPD_DCB] : 0;
  }
  // Opens-in-use of the databank kernel's entry of a LID (0 when none).
  int32_t KernelEntry(int32_t lid) { return DKFindDatabank(lid); }

  std::string dir_;
  std::filesystem::path old_dir_;
  int32_t thr_ = 0;
};
