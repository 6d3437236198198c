// DSXAT3 carries out an XA operation on the branch DSXAL2 found and held,
// and DSXAR3 lists the branches a transaction manager must recover. Every
// way out of DSXAT3 gives back the hold DSXAL2 took, by a release of the
// session's attachment or by dropping the hold.
#include <algorithm>
#include <cstring>
#include <tuple>
#include <vector>

#include "dk/request.h"
#include "kernel/control_blocks.h"
#include "kernel/system_block.h"
#include "kernel/upper_services.h"
#include "kernel/xa_branches.h"
#include "platform/enqdeq.h"

namespace {

// Records a heuristic decision (mode 12) or its forget (13) in the databank
// kernel's table 5, keyed by the identifier; the record carries the decided
// state and the identifier's format and lengths, so that the begin can
// rebuild the branch.
int32_t RecordDecision(int32_t* base, int32_t x, int32_t mode, int32_t decided = 0) {
  int32_t block[64] = {};
  block[5] = mode;
  int32_t* record = block + 15;
  uint8_t* key = reinterpret_cast<uint8_t*>(record);
  const int32_t length = Wd(base, x, XAENT_GTRID_LENGTH) + Wd(base, x, XAENT_BQUAL_LENGTH);
  std::memcpy(key, &Wd(base, x, XAENT_TRANSACTION_ID), std::min(length, 128));
  record[XAREC_STATE] = decided;
  record[XAREC_FORMAT] = Wd(base, x, XAENT_FORMATID);
  record[XAREC_GTRID_LENGTH] = Wd(base, x, XAENT_GTRID_LENGTH);
  record[XAREC_BQUAL_LENGTH] = Wd(base, x, XAENT_BQUAL_LENGTH);
  DKEXE1(63, block);
  return block[0] != 0 ? block[0] : std::min(block[5], 0);
}

int32_t EndWork(int32_t* base, int32_t usr, int32_t code, const int32_t* xid) {
  const int32_t lvl = Wd(base, usr, USR_LVL);
  // The end runs with the level cut from its statement chain.
  const bool cut = InStorage(base, lvl, LVL_WORDS);
  const int32_t chain = cut ? Wd(base, lvl, LVL_STM) : 0;
  if (cut) Wd(base, lvl, LVL_STM) = 0;
  // The databank kernel keeps the identifier with a prepared transaction;
  // its format and lengths go with it, so the begin can name the branch.
  uint8_t kept[XA_KEPT_HEAD_BYTES + XID_MAX_BYTES];
  const int32_t length = XAKeptIdentifier(xid, kept);
  const int32_t r = UpEndTransWork(base, usr, code, kept, length);
  if (cut) Wd(base, lvl, LVL_STM) = chain;
  return r;
}

void Answer(int32_t* request, int32_t status, int32_t code) {
  request[XAREQ_OP] = status;
  request[XAREQ_CODE] = code;
}

}  // namespace

void DSXAT3(int32_t* base, int32_t* request, const int32_t* xid) {
  const int32_t op = request[XAREQ_OP], usr = request[XAREQ_USR];
  const int32_t x = DSXAL2(base, request, xid);
  if (x == 0) return;
  const int32_t flags = xid[XID_FLAGS];
  int32_t& state = Wd(base, x, XAENT_STATE);
  switch (op) {
    case 1:
    case 11: {
      DSXAAttach(base, usr, x, 0);
      const int32_t r = UpBeginTrans(base, usr);
      if (r < 0) {
        state = XA_FINISHED;
        DSXARelease(base, usr, x, 0);
        Answer(request, r, XAER_RMERR);
        break;
      }
      const int32_t tp = Wd(base, usr, USR_TP);
      if (InStorage(base, tp, TP_WORDS)) Wd(base, tp, TP_AUTOCOMMIT) = XA_TP_AUTOCOMMIT;
      Wd(base, x, XAENT_TP) = tp;
      state = op == 1 ? XA_ACTIVE : XA_STARTED;
      break;
    }
    case 2:
    case 3:
      if ((flags & TMNOWAIT) != 0 && Wd(base, x, XAENT_USR) != 0) {
        DSXARelease(base, usr, x, 1);
        Answer(request, XA_WOULD_WAIT, XA_RETRY);
        break;
      }
      DSXAAttach(base, usr, x, 0);
      state = XA_ACTIVE;
      break;
    case 4:
      if (Wd(base, x, XAENT_USR) == 0) DSXAAttach(base, usr, x, 0);
      if (flags & TMFAIL) {
        const int32_t tp = Wd(base, x, XAENT_TP);
        if (InStorage(base, tp, TP_WORDS)) Wd(base, tp, TP_TRANSACTION_STATE) = 2;
      }
      state = (flags & TMSUSPEND) != 0 ? XA_SUSPENDED : XA_IDLE;
      DSXARelease(base, usr, x, 0);
      break;
    case 5:
    case 12: {
      if (op == 5) DSXAAttach(base, usr, x, 0);
      const int32_t r = EndWork(base, usr, 89, xid);
      if (r == 1) {
        state = XA_FINISHED;
        Answer(request, 0, XA_RDONLY);
      } else if (r == -10001 || r == -10002) {
        state = XA_FINISHED;
        Answer(request, r, XA_RBDEADLOCK);
      } else if (r < 0) {
        Answer(request, r, XAER_RMERR);
      } else {
        state = op == 5 ? XA_PREPARED : XA_PREPARED_OWN;
      }
      if (op == 5 || state == XA_FINISHED || r < 0) DSXARelease(base, usr, x, 0);
      break;
    }
    case 6:
    case 8:
    case 13: {
      if (op != 13) DSXAAttach(base, usr, x, 0);
      int32_t r = op == 8 ? RecordDecision(base, x, 12, XA_HEURISTIC_COMMIT) : 0;
      if (r < 0) {
        DSXARelease(base, usr, x, 0);
        Answer(request, r - 16140, XAER_RMERR);
        break;
      }
      const bool prepared = state == XA_PREPARED || state == XA_PREPARED_OWN;
      r = EndWork(base, usr, prepared ? 90 : 84, xid);
      if (r >= 0) {
        state = op == 8 ? XA_HEURISTIC_COMMIT : XA_FINISHED;
      } else {
        state = XA_FINISHED;
        Answer(request, r, r == -10001 || r == -10002 ? XA_RBDEADLOCK : XA_RBROLLBACK);
      }
      DSXARelease(base, usr, x, 0);
      break;
    }
    case 7:
    case 9:
    case 14: {
      if (op != 14) DSXAAttach(base, usr, x, 0);
      int32_t r = op == 9 ? RecordDecision(base, x, 12, XA_HEURISTIC_ROLLBACK) : 0;
      if (r < 0) {
        DSXARelease(base, usr, x, 0);
        Answer(request, r - 16140, XAER_RMERR);
        break;
      }
      if (state != XA_FINISHED) {
        EndWork(base, usr, XA_END_ROLLBACK, xid);
        state = op == 9 ? XA_HEURISTIC_ROLLBACK : XA_FINISHED;
      } else if (op == 9) {
        Answer(request, XA_NO_BRANCH, XAER_NOTA);
      }
      DSXARelease(base, usr, x, 0);
      break;
    }
    case 10: {
      DSXAAttach(base, usr, x, 0);
      const int32_t r = RecordDecision(base, x, 13);
      if (r < 0) {
        // An unrecorded forget would bring the decision back at the next start.
        Answer(request, r - 16140, XAER_RMERR);
      } else {
        state = XA_FINISHED;
      }
      DSXARelease(base, usr, x, 0);
      break;
    }
    case 15:
      DSXARelease(base, usr, x, Wd(base, x, XAENT_USR) == usr ? 0 : 1);
      break;
    default:  // 16: no change
      break;
  }
  if (request[XAREQ_OP] != 0 && InStorage(base, usr, USR_WORDS))
    Wd(base, usr, USR_RVEC_RCODE) = request[XAREQ_OP];
}

void DSXAR3(int32_t* base, int32_t* request, int32_t* reply, int32_t reply_bytes) {
  const int32_t sys = KernelSys(base);
  if (sys == 0 || reply_bytes < 8) {
    Answer(request, sys == 0 ? KERNEL_NOT_STARTED : KERNEL_BAD_PARAMETER, XAER_RMFAIL);
    return;
  }
  const bool first = request[XAREQ_OP] == 0;
  if (first) request[XAREQ_CURSOR] = 0;
  mdrenq(&Wd(base, sys, SYS_XAENT_S));
  // (group, transaction number, entry): prepared first, then heuristic.
  std::vector<std::tuple<int32_t, int32_t, int32_t>> order;
  for (int32_t x = Wd(base, sys, SYS_FIRST_XAENT); x != 0; x = Wd(base, x, XAENT_NEXT)) {
    const int32_t state = Wd(base, x, XAENT_STATE), tp = Wd(base, x, XAENT_TP);
    const int32_t number = InStorage(base, tp, TP_WORDS) ? Wd(base, tp, TP_TRANSACTION_NUMBER) : 0;
    if (state == XA_PREPARED || state == XA_PREPARED_OWN) order.emplace_back(0, number, x);
    if (state == XA_HEURISTIC_COMMIT || state == XA_HEURISTIC_ROLLBACK)
      order.emplace_back(1, number, x);
  }
  std::sort(order.begin(), order.end());
  if (order.empty()) {
    mdrdeq(&Wd(base, sys, SYS_XAENT_S));
    reply[0] = reply[1] = XAR_NO_BRANCH;
    Answer(request, 0, XA_OK);
    return;
  }
  const int32_t room = reply_bytes / 4;
  const int32_t most = std::max(0, (reply_bytes - 5) / XAR_ENTRY_BYTES);
  int32_t at = 2, count = 0;
  size_t next = std::min<size_t>(std::max(request[XAREQ_CURSOR], 0), order.size());
  for (; next < order.size() && count < most; ++next) {
    const auto [group, number, x] = order[next];
    const int32_t length = Wd(base, x, XAENT_GTRID_LENGTH) + Wd(base, x, XAENT_BQUAL_LENGTH);
    const int32_t words = 4 + (length + 3) / 4;
    if (at + words > room) break;
    const int32_t state = Wd(base, x, XAENT_STATE);
    reply[at] = group == 0 ? 1 : (state == XA_HEURISTIC_ROLLBACK ? 2 : 3);
    reply[at + 1] = Wd(base, x, XAENT_FORMATID);
    reply[at + 2] = Wd(base, x, XAENT_GTRID_LENGTH);
    reply[at + 3] = Wd(base, x, XAENT_BQUAL_LENGTH);
    std::memset(reply + at + 4, 0, 4 * (words - 4));
    std::memcpy(reply + at + 4, &Wd(base, x, XAENT_TRANSACTION_ID), length);
    at += words;
    ++count;
  }
  mdrdeq(&Wd(base, sys, SYS_XAENT_S));
  reply[0] = next < order.size() ? 1 : 0;
  reply[1] = count;
  request[XAREQ_CURSOR] = static_cast<int32_t>(next);
  Answer(request, 0, XA_OK);
}
