// DSOpenBkpTable: the backup's utility table of a databank (kind 13) or of
// the system databank (kind 14), opened for the session with the next
// restore time stamp of the databank.
#include <cstring>

#include "dk/databank_file.h"
#include "dk/request.h"
#include "kernel/backup_log.h"
#include "kernel/control_blocks.h"
#include "kernel/databank_control.h"
#include "kernel/system_block.h"
#include "kernel/table_use.h"
#include "kernel/upper_services.h"

namespace {

constexpr int32_t kRootPage = 51;
constexpr int32_t kDatabankKind = 13, kSystemKind = 14;

// The next restore time stamp: the restore directory slot's + 2, or
// without a slot the header's + 1; a databank kernel error r as r - 16140.
int32_t NextStamp(int32_t did, int32_t lid, int32_t* stamp) {
  int32_t roo[ROO_WORDS] = {4, did, lid};
  roo[ROO_SEQNO] = -1;
  DKEXE1(kRootPage, roo);
  if (roo[ROO_CODE] == 0) {
    *stamp = roo[ROO_STAMP] + 2;
    return 0;
  }
  if (roo[ROO_CODE] < 0) return roo[ROO_CODE] - DK_ERROR_BIAS;
  int32_t head[ROO_WORDS] = {1, did, lid};
  head[ROO_SEQNO] = -1;
  DKEXE1(kRootPage, head);
  if (head[ROO_CODE] != 0) return head[ROO_CODE] - DK_ERROR_BIAS;
  *stamp = head[ROO_STAMP] + 1;
  return 0;
}

}  // namespace

void DSOpenBkpTable(int32_t* base, int32_t* request) {
  const int32_t usr = request[BOT_USR];
  if (KernelSys(base) == 0) {
    request[BOT_VARIANT] = KERNEL_NOT_STARTED;
    return;
  }
  if (!InStorage(base, usr, USR_WORDS)) {
    request[BOT_VARIANT] = KERNEL_BAD_PARAMETER;
    return;
  }
  if (UpGetTransState(base, usr) == 0) {
    request[BOT_VARIANT] = Wd(base, usr, USR_RVEC_RCODE) = BACKUP_NO_TRANSACTION;
    return;
  }
  const bool system = request[BOT_VARIANT] != 0;
  const int32_t kind = system ? kSystemKind : kDatabankKind;
  const int32_t lid = system ? 1 : request[BOT_LID];
  int32_t key[4];
  if (system)
    std::memset(key, ' ', sizeof key);
  else
    std::memcpy(key, request + BOT_KEY, sizeof key);
  int32_t rq[OPD_WORDS] = {5, lid};
  rq[OPD_SEQNO] = -1;
  DSOpenDcb(base, rq);
  int32_t status = rq[OPD_KIND] == 0 && rq[OPD_DCB] == 0 ? DCB_NO_ROW : rq[OPD_KIND];
  int32_t stamp = 0;
  if (status == 0) status = NextStamp(rq[OPD_DID], lid, &stamp);
  if (status == 0) {
    request[BOT_STAMP] = stamp;
    int32_t open[2] = {0, usr};
    int32_t table[TRQ_WORDS] = {};
    table[TRQ_KIND] = kind;
    table[TRQ_LID] = lid;
    int32_t descriptor[8] = {rq[OPD_DID], lid, 0, stamp};
    std::memcpy(descriptor + 4, key, sizeof key);
    DSOpenTable(base, open, table, descriptor);
    status = open[0];
  }
  if (status > 0) status = DCB_NO_ROW;
  if (status != 0) {
    Wd(base, usr, USR_RVEC_RCODE) = status;
    Wd(base, usr, USR_RVEC_LID) = lid;
    Wd(base, usr, USR_RVEC_SEQNO) = -1;
    Wd(base, usr, USR_RVEC_ATTRIBUTE) = rq[OPD_TYPE];
    Wd(base, usr, USR_RVEC_BITVEC) = RVEC_MASK_DATABANK;
  }
  request[BOT_VARIANT] = status;
}
