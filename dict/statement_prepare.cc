// DDPrepare and DDClose over the kernel's statement blocks: the program
// block is the kernel's image decoding, the statement's own compound block
// names it, binding is the kernel's statement open and closing its close.
#include "dict/statement_prepare.h"

#include <atomic>
#include <cstring>

#include "kernel/control_blocks.h"
#include "kernel/statements.h"
#include "kernel/system_block.h"
#include "kernel/word_storage.h"

namespace {

void CountStatement(int32_t* base) {
  const int32_t sys = KernelSys(base);
  if (sys != 0)
    std::atomic_ref<int32_t>(Wd(base, sys, SYS_ST_STATEMENTS)).fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

void DDPrepare(int32_t* base, int32_t* slot, const int16_t* header, int32_t n,
               const int32_t* body, int32_t body_length, int32_t m) {
  const int32_t usr = slot[SLOT_OWNER];
  slot[SLOT_STM] = 0;
  if (n < SD_MIN_WORDS || m < 0 || body_length < 0 || header[SD_PROGRAM] < SD_MIN_WORDS ||
      header[SD_PROGRAM] >= n || !InStorage(base, usr, USR_WORDS)) {
    slot[SLOT_STATUS] = DD_BAD_IMAGE;
    return;
  }
  // The kernel's decoding writes only the block it takes for the words the
  // runs add up to; a body of other than M words is refused.
  int32_t sd = 0;
  int32_t rc = DSDecodeImage(base, header, n, body, body_length, &sd);
  if (rc == 0 && Wd(base, sd, SD_STORAGE_WORDS) != m) {
    DSGetMem(base, &sd, 0);
    rc = DD_BAD_IMAGE;
  }
  int32_t stm = 0;
  if (rc == 0) DSGetMem(base, &stm, STM_BYTES);
  if (rc != 0 || stm == 0) {
    if (sd != 0) DSGetMem(base, &sd, 0);
    slot[SLOT_STATUS] = rc != 0 ? rc : SQLPOOL_EXHAUSTED_ERROR;
    return;
  }
  const int32_t com = stm + STM_NEXT_COM;
  Wd(base, com, COM_SD) = sd;
  Wd(base, com, COM_PGM) = sd + header[SD_PROGRAM];
  Wd(base, com, COM_STG) = sd + n;
  Wd(base, stm, STM_ACTIVE_COM) = com;
  Wd(base, stm, STM_LVL) = Wd(base, usr, USR_LVL);
  Wd(base, stm, STM_STATUS) = STM_CREATED;
  if (slot[SLOT_STATUS] == PREPARE_NO_BIND) {
    slot[SLOT_STATUS] = 0;
  } else {
    rc = DSOpenStm(base, 0, usr, stm);
    if (rc != 0) {
      DSGetMem(base, &stm, 0);
      DSGetMem(base, &sd, 0);
      slot[SLOT_STATUS] = rc;
      return;
    }
    slot[SLOT_STATUS] = 0;
  }
  slot[SLOT_STM] = stm;
  CountStatement(base);
}

void DDPrepareImage(int32_t* base, int32_t* slot, const DDStmtImage& image) {
  DDPrepare(base, slot, image.header, image.header_length, image.body, image.body_length,
            image.storage_words);
}

void DDClose(int32_t* base, int32_t* slot) {
  if (slot[SLOT_STM] == 0) return;
  slot[SLOT_STATUS] = DSCloseStm(base, slot[SLOT_OWNER], &slot[SLOT_STM]);
  slot[SLOT_STM] = 0;
}

const DDStmtImage* DDImageByName(const char* name) {
  for (int32_t i = 0; i < kStmtImageCount; ++i)
    if (std::strcmp(kStmtImages[i].name, name) == 0) return &kStmtImages[i];
  return nullptr;
}

int32_t DDStmtImageOf(int32_t number, const int16_t** header, int32_t* header_length,
                      const int32_t** body, int32_t* body_length) {
  for (int32_t i = 0; i < kStmtImageCount; ++i) {
    const DDStmtImage& im = kStmtImages[i];
    if (im.slot >= 0 || im.id != number) continue;
    *header = im.header;
    *header_length = im.header_length;
    *body = im.body;
    *body_length = im.body_length;
    return 0;
  }
  return DD_BAD_IMAGE;
}
