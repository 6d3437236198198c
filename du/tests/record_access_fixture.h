// A kernel word storage with the system block, a user with its level, an
// ENQ/DEQ area, services of the upper layers that count databank
// references, and a model of the databank kernel's transaction and table
// requests that records every request it is sent.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "du/pool_words.h"
#include "du/record_access_words.h"
#include "du/tables.h"
#include "du/transactions.h"
#include "du/upper_services.h"
#include "kernel/control_blocks.h"
#include "kernel/word_storage.h"
#include "platform/enqdeq.h"
#include "platform/host_services.h"

struct CapturedLog : HostServices {
  std::mutex lock;
  std::vector<std::string> lines;
  void write_output(StatusPair* status, int, const char* area, int count) override {
    set_success(status);
    std::lock_guard<std::mutex> g(lock);
    if (count < 0) lines.emplace_back(area);
    for (int i = 0; i < count; ++i, area += lines.back().size() + 1) lines.emplace_back(area);
  }
  bool Has(const std::string& text) {
    std::lock_guard<std::mutex> g(lock);
    for (const auto& l : lines)
      if (l.find(text) != std::string::npos) return true;
    return false;
  }
};

// The model of the databank kernel: queues (write, read and check sets) as
// vectors of records, kernel tables by number, TSS entries by number.
class KernelModel {
 public:
  struct Queue {
    std::vector<std::vector<int32_t>> records;
  };
  std::mutex lock;
  std::map<int32_t, Queue> queues;                 // by TBL (the kernel's table entry)
  std::map<int32_t, int32_t> sent;                 // requests by function code
  std::map<int32_t, int32_t> fail;                 // code -> status answered once
  std::vector<std::vector<int32_t>> ended;         // DKETR1 blocks
  std::function<int32_t(const int32_t*)> recheck;  // DKCCS1 answer
  std::function<void(int32_t*)> open_table;        // DKOPT1 answer
  std::map<int32_t, int32_t> open_tables;          // TBL -> uses
  // Stored rows and the transaction's write-set entries of each table (by
  // TBL), keyed by the row key.
  struct Entry {
    int32_t status = 0;  // 0 insert or update, 1 delete
    std::string row;
    int32_t order = 0;
  };
  std::map<int32_t, std::map<std::string, std::string>> rows;
  std::map<int32_t, std::map<std::string, Entry>> writes;
  std::vector<int32_t> last_appended;
  // The databank kernel's mode 2 of DKFET1 stays on the leaf the key leads
  // to and answers the next row there when the key is absent.
  bool exact_reads_next = false;
  int32_t generated_high = 0, generated_low = 0;
  int32_t next_tbl = 100;
  int32_t next_tss = 1;
  int32_t open_tss = 0;

  // The first key at or after (1, 4), after (-2, -4, 0) or at (2) the key
  // of `keylen` bytes at `at`, or before for a backward search; modes 4 and
  // -4 keep to the prefix whose length follows the key.
  template <typename Map>
  static typename Map::iterator Search(Map& m, const int32_t* at, int32_t keylen, int32_t mode,
                                       bool forward) {
    const char* bytes = reinterpret_cast<const char*>(at);
    const std::string key(bytes, static_cast<size_t>(keylen));
    int32_t prefix = 0;
    if (mode == 4 || mode == -4) std::memcpy(&prefix, bytes + (keylen + 3) / 4 * 4, 4);
    typename Map::iterator it;
    if (mode == 2) return m.find(key);
    const bool inclusive = mode == 1 || mode == 4;
    if (forward) {
      it = inclusive ? m.lower_bound(key) : m.upper_bound(key);
    } else {
      it = inclusive ? m.upper_bound(key) : m.lower_bound(key);
      if (it == m.begin()) return m.end();
      --it;
    }
    if (it != m.end() && prefix > 0 &&
        it->first.compare(0, static_cast<size_t>(prefix), key, 0, static_cast<size_t>(prefix)) != 0)
      return m.end();
    return it;
  }

  static KernelModel*& Current() {
    static KernelModel* current = nullptr;
    return current;
  }
  static void Dispatch(int32_t code, int32_t* b) { Current()->Serve(code, b); }

  int32_t Sent(int32_t code) {
    std::lock_guard<std::mutex> g(lock);
    return sent[code];
  }

  void Serve(int32_t code, int32_t* b) {
    std::lock_guard<std::mutex> g(lock);
    ++sent[code];
    if (auto f = fail.find(code); f != fail.end()) {
      b[code == DK_FET1 || code == DK_FEP1 ? 5 : 0] = f->second;
      fail.erase(f);
      return;
    }
    switch (code) {
      case DK_CRT1: {
        const int32_t tbl = next_tbl++;
        if (b[3] == QUEUE_TYPE) queues[tbl];
        b[0] = 0;
        b[4] = tbl;
        b[11] = 2048;
        if (b[3] == QUEUE_TYPE) b[6] = b[7] = 0;
        if (b[3] != QUEUE_TYPE) {
          open_tables[tbl]++;
          b[4] = tbl;
        }
        return;
      }
      case DK_DRS1:
        queues[b[4]].records.clear();
        b[0] = 0;
        b[6] = b[7] = 0;
        return;
      case DK_APS1: {
        auto& q = queues[b[4]].records;
        q.emplace_back(b + 15, b + 15 + b[8]);
        last_appended = q.back();
        b[0] = 0;
        b[6] = 1;
        b[7] = static_cast<int32_t>(q.size());
        return;
      }
      case DK_BTR1:
        b[0] = 0;
        b[3] = next_tss++;
        b[4] = 1000 + b[3];
        ++open_tss;
        return;
      case DK_ETR1:
        ended.emplace_back(b, b + 7);
        if (b[0] == 0) {
          for (auto& [tbl, entries] : writes)
            for (auto& [key, e] : entries) {
              if (e.status == 1)
                rows[tbl].erase(key);
              else
                rows[tbl][key] = e.row;
            }
        }
        if (b[0] == 0 || b[0] == 1) writes.clear();
        b[0] = 0;
        b[3] = 0;
        --open_tss;
        return;
      case DK_CLT1:
        if (open_tables.count(b[4]) && --open_tables[b[4]] == 0) open_tables.erase(b[4]);
        if (b[0] == -22) queues.erase(b[4]);
        b[0] = 0;
        return;
      case DK_RCM1:
        b[0] = 0;
        return;
      case DK_ROL1: {
        auto& q = queues[b[4]].records;
        for (size_t i = 0; i < q.size(); ++i)
          if (q[i].size() > 2 && q[i][0] == RECORD_KIND_MARK && q[i][2] == b[0]) {
            q.resize(i + 1);
            break;
          }
        b[0] = 0;
        b[6] = 1;
        b[7] = static_cast<int32_t>(q.size());
        return;
      }
      case DK_GNS1: {
        auto& q = queues[b[4]].records;
        const size_t at = b[0] == 2 ? 0 : static_cast<size_t>(b[7]);
        if (at >= q.size()) {
          b[0] = 4;
          return;
        }
        std::copy(q[at].begin(), q[at].end(), b + 15);
        b[8] = static_cast<int32_t>(q[at].size());
        b[7] = static_cast<int32_t>(at + 1);
        b[0] = 0;
        return;
      }
      case DK_FET1:
      case DK_FEP1: {
        const int32_t mode = b[5] == 2 && exact_reads_next ? 1 : b[5];
        auto it = Search(rows[b[9]], b + 15, b[11], mode, code == DK_FET1);
        if (it == rows[b[9]].end()) {
          b[5] = 4;
          return;
        }
        std::memcpy(b + 15, it->second.data(), it->second.size());
        b[5] = 0;
        return;
      }
      case DK_FNT1:
      case DK_FPT1: {
        auto& w = writes[b[10]];
        auto it = Search(w, b + 16, b[12], b[6], code == DK_FNT1);
        if (it == w.end()) {
          b[6] = 4;
          return;
        }
        std::memcpy(b + 16, it->second.row.data(), it->second.row.size());
        b[3] = it->second.order;
        b[6] = it->second.status;
        return;
      }
      case 30:
        b[6] = 1;
        return;
      case DK_AFC1:
        b[0] = 0;
        return;
      case DK_INT1: {
        const auto& r = last_appended;
        const int32_t kind = b[6];
        const std::string row(reinterpret_cast<const char*>(r.data() + 10),
                              static_cast<size_t>(b[13]));
        const std::string key = row.substr(0, static_cast<size_t>(b[12]));
        if (kind == 1 || kind == 2) writes[b[10]][key] = {0, row, b[15]};
        if (kind == 4) writes[b[10]][key] = {1, row, b[15]};
        b[6] = 0;
        return;
      }
      case DK_GGK1:
        b[5] = 0;
        b[15] = generated_high;
        b[16] = ++generated_low;
        return;
      case DK_IND1:
      case DK_INS1:
      case DK_DEL1:
      case DK_UPD1:
      case DK_CHK1: {
        const std::string row(reinterpret_cast<const char*>(b + 10), static_cast<size_t>(b[7]));
        const std::string key = row.substr(0, static_cast<size_t>(b[6]));
        auto& t = rows[b[4]];
        const bool there = t.count(key) != 0;
        if (code == DK_INS1 || code == DK_IND1) {
          if (!there) t[key] = row;
          b[0] = there ? 1 : 0;
        } else if (code == DK_DEL1) {
          t.erase(key);
          b[0] = there ? 0 : 5;
        } else if (code == DK_UPD1) {
          if (there) t[key] = row;
          b[0] = there ? 0 : 5;
        } else {
          b[0] = there ? 4 : 0;
        }
        return;
      }
      case DK_PFU1:
        b[8] = b[7];
        b[0] = 0;
        return;
      case DK_DRP1:
        rows[b[4]].clear();
        b[0] = 0;
        return;
      case DK_GPS1: {
        auto& q = queues[b[4]].records;
        const size_t at = static_cast<size_t>(b[7]) - 1;
        if (b[7] < 1 || at >= q.size()) {
          b[0] = 4;
          return;
        }
        std::copy(q[at].begin(), q[at].end(), b + 15);
        b[8] = static_cast<int32_t>(q[at].size());
        b[0] = 0;
        return;
      }
      case DK_CCS1:
        b[0] = recheck ? recheck(b) : 0;
        return;
      case DK_OPT1: {
        const int32_t tbl = next_tbl++;
        open_tables[tbl]++;
        b[0] = 0;
        b[4] = tbl;
        if (open_table) open_table(b);
        return;
      }
      default:
        b[0] = -43;
    }
  }
};

// Databank references the upper services counted, by LID, and the catalog
// descriptions they answer with, by table number.
struct UpperModel {
  std::mutex lock;
  std::map<int32_t, int32_t> databank_refs;
  std::map<int32_t, std::vector<int32_t>> descriptions;
  std::map<int32_t, int32_t> dcbs;  // LID -> DCB
  int32_t* base = nullptr;
  int32_t used_by_user = 1;
  int32_t closed_statements = 0;
  int32_t work_ends = 0;

  static UpperModel*& Current() {
    static UpperModel* current = nullptr;
    return current;
  }
  static const DUUpperServices* Table() {
    static const DUUpperServices table = {
        [](int32_t*, int32_t, int32_t lid, int32_t* dcb) {
          UpperModel* m = Current();
          std::lock_guard<std::mutex> g(m->lock);
          if (!m->dcbs.count(lid)) return -16181;
          m->databank_refs[lid]++;
          *dcb = m->dcbs[lid];
          return 0;
        },
        [](int32_t*, int32_t, int32_t, int32_t lid, int32_t) {
          UpperModel* m = Current();
          std::lock_guard<std::mutex> g(m->lock);
          if (--m->databank_refs[lid] < 0) return -19021;
          return 0;
        },
        [](int32_t*, int32_t, int32_t lid, int32_t) {
          UpperModel* m = Current();
          std::lock_guard<std::mutex> g(m->lock);
          --m->databank_refs[lid];
          return 0;
        },
        [](int32_t* base, int32_t, int32_t* open) {
          UpperModel* m = Current();
          std::vector<int32_t> d;
          {
            std::lock_guard<std::mutex> g(m->lock);
            auto it = m->descriptions.find(open[OPB_TNAME]);
            if (it == m->descriptions.end()) return 1;
            d = it->second;
          }
          int32_t block = du::NewBlock(base, static_cast<int32_t>(d.size()) * 4);
          if (block == 0) return DU_NO_STORAGE;
          std::memcpy(&du::W(base, block), d.data(), d.size() * 4);
          open[OPB_DESCRIPTION] = block;
          return 0;
        },
        [](int32_t* base, int32_t usr, int32_t* record, int32_t* open) {
          DUOpenTableChain(base, usr, record, open);
          return 0;
        },
        [](int32_t*, int32_t, int32_t) { return Current()->used_by_user; },
        [](int32_t*, int32_t, int32_t) {
          ++Current()->closed_statements;
          return 0;
        },
        [](int32_t*, int32_t, int32_t) {
          ++Current()->work_ends;
          return 0;
        },
    };
    return &table;
  }
};

// A user with its level, no automatic end, transactions begun at once and
// view 3; its index.
inline int32_t NewUserBlock(int32_t* base) {
  int32_t usr = 0, lvl = 0;
  DSGetMem(base, &usr, USR_BYTES);
  DSGetMem(base, &lvl, LVL_BYTES);
  du::W(base, usr + USR_LVL) = lvl;
  du::W(base, lvl + LVL_USR) = usr;
  du::W(base, usr + USR_TRANSACTION_AUTOCOMMIT) = NO_AUTOMATIC_END;
  du::W(base, usr + USR_TRANSACTION_START) = 1;
  du::W(base, usr + USR_TRANSACTION_VIEW) = 3;
  du::W(base, usr + USR_MARK_ID) = FIRST_MARK_ID;
  return usr;
}

// A record block of a base table to be opened in `mode`.
inline std::vector<int32_t> RecordBlock(int32_t tname, int32_t mode, int32_t keylen,
                                        int32_t reclen) {
  std::vector<int32_t> r(static_cast<size_t>(DurecWords(std::max(reclen, 64))), 0);
  r[DUREC_ACCESS_MODE] = mode;
  r[DUREC_TNAME] = tname;
  r[DUREC_KEYLEN] = keylen;
  r[DUREC_RECLEN] = reclen;
  r[DUREC_TYPE] = 1;
  return r;
}

// The TCBs in the hash of SYS TCB_LIST.
inline int32_t CountTcbs(int32_t* base) {
  const int32_t hash = du::W(base, base[sqlpool::RESERV] + SYS_TCB_LIST);
  int32_t n = 0;
  for (int32_t k = 0; k < TCBH_BUCKET_COUNT; ++k)
    for (int32_t t = du::W(base, hash + TCBH_FIRST_BUCKET + TCBH_BUCKET_WORDS * k + TCBH_BUCKET_HEAD);
         t != 0; t = du::W(base, t))
      ++n;
  return n;
}

// A statement on the user's level (at the head of its chain) whose own
// program header has `type`.
inline int32_t NewStatementBlock(int32_t* base, int32_t usr, int32_t type) {
  using du::W;
  int32_t stm = 0, sd = 0, stg = 0;
  DSGetMem(base, &stm, STM_BYTES);
  DSGetMem(base, &sd, 400);
  DSGetMem(base, &stg, 8000);
  W(base, sd + du::SD_PROGRAM_TYPE) = type;
  W(base, sd + du::SD_PERM_LIST) = 20;
  W(base, sd + du::SD_TEMP_LIST) = 60;
  W(base, stm + STM_SD) = sd;
  W(base, stm + STM_STG) = stg;
  const int32_t lvl = W(base, usr + USR_LVL);
  W(base, stm + STM_LVL) = lvl;
  W(base, stm) = W(base, lvl + LVL_STM);
  W(base, lvl + LVL_STM) = stm;
  return stm;
}

// The statement's access list: pairs {TRS, access} and -1.
inline void SetStatementAccess(int32_t* base, int32_t stm,
                               const std::vector<std::pair<int32_t, int32_t>>& pairs) {
  using du::W;
  int32_t list = 0;
  DSGetMem(base, &list, 8 * static_cast<int32_t>(pairs.size()) + 12);
  int32_t k = 1;
  for (auto [trs, access] : pairs) {
    W(base, list + k++) = trs;
    W(base, list + k++) = access;
  }
  W(base, list + k) = -1;
  W(base, stm + STM_LTRS) = list;
}

class RecordAccessTest : public ::testing::Test {
 protected:
  static constexpr int32_t kThreads = 12;

  RecordAccessTest() : base_(SqlPoolCreate(4000000, 400000)) {
    int32_t w = 400000;
    DSPoolMem(base_, &w, -1, 0);
    enq_.assign(static_cast<size_t>(enqdeq_size(kThreads) / 4), 0);
    EXPECT_EQ(enqdeq_init(enq_.data(), kThreads, nullptr, base_, 0), 0);
    enqdeq_attach(enq_.data(), 1);
    DSGetMem(base_, &sys_, SYS_BYTES);
    base_[sqlpool::RESERV] = sys_;
    enqdeq_init_semaphore(&W(sys_ + SYS_POOLED_TP_S), 1);
    previous_log_ = InstallHostServices(&log_);
    KernelModel::Current() = &kernel_;
    UpperModel::Current() = &upper_;
    upper_.base = base_;
    previous_dispatcher_ = DUInstallKernelDispatcher(&KernelModel::Dispatch);
    previous_services_ = DUInstallUpperServices(UpperModel::Table());
    usr_ = NewUser();
  }
  ~RecordAccessTest() override {
    DUInstallKernelDispatcher(previous_dispatcher_);
    DUInstallUpperServices(previous_services_);
    InstallHostServices(previous_log_);
    KernelModel::Current() = nullptr;
    UpperModel::Current() = nullptr;
    SqlPoolDestroy(base_);
  }

  int32_t& W(int64_t index) { return du::W(base_, index); }

  int32_t NewUser() { return NewUserBlock(base_); }

  // A statement on the user's level (at the head of its chain) whose own
  // program header has `type`.
  int32_t NewStatement(int32_t usr, int32_t type) { return NewStatementBlock(base_, usr, type); }

  // The statement's access list: pairs {TRS, access} and -1.
  void SetAccess(int32_t stm, const std::vector<std::pair<int32_t, int32_t>>& pairs) {
    SetStatementAccess(base_, stm, pairs);
  }

  // A DCB with `lid` and `trans_mode`, and the user's TRS entry for it.
  int32_t NewDatabank(int32_t lid, int32_t trans_mode, int32_t did = 0) {
    int32_t dcb = 0;
    DSGetMem(base_, &dcb, DCB_BYTES);
    W(dcb + DCB_LID) = lid;
    W(dcb + DCB_DID) = did != 0 ? did : 100 + lid;
    W(dcb + DCB_TRANS_MODE) = trans_mode;
    upper_.dcbs[lid] = dcb;
    return dcb;
  }
  int32_t NewTrs(int32_t usr, int32_t dcb) {
    int32_t trs = 0;
    DSGetMem(base_, &trs, TRS_BYTES);
    W(trs + TRS_DCB) = dcb;
    W(trs) = W(usr + USR_TRS);
    W(usr + USR_TRS) = trs;
    return trs;
  }

  int32_t Begin(int32_t mode, int32_t usr = 0) {
    int32_t pb[2] = {mode, usr ? usr : usr_};
    DSBTR3(base_, pb);
    return pb[0];
  }
  int32_t End(int32_t code, int32_t usr = 0, int32_t stm = 0) {
    int32_t pb[3] = {code, usr ? usr : usr_, stm};
    DSEndTrans(base_, pb);
    return pb[0];
  }
  int32_t Tp(int32_t usr = 0) { return W((usr ? usr : usr_) + USR_TP); }

  int32_t* base_;
  std::vector<int32_t> enq_;
  int32_t sys_ = 0;
  int32_t usr_ = 0;
  CapturedLog log_;
  HostServices* previous_log_ = nullptr;
  KernelModel kernel_;
  UpperModel upper_;
  DUKernelDispatcher previous_dispatcher_ = nullptr;
  const DUUpperServices* previous_services_ = nullptr;
};
