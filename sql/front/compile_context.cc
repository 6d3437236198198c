// The statement workspace: taken from the compile arena at the start of every
// attempt, cut into bottom blocks from the low end and top blocks from the high
// end. A test that finds no room doubles the size and restarts the compilation
// (the driver compiles the text again); nothing of the attempt survives.
#include "sql/front/compile_context.h"

#include <cstring>

#include "kernel/word_storage.h"
#include "sql/front/compile_diag.h"

namespace {

constexpr int32_t kBlockAlign = 8;

int64_t RoundUp(int64_t v, int64_t to) {
  return (v + to - 1) / to * to;
}

// Doubles the workspace and leaves the attempt; the driver compiles again.
// A size that would leave the 32-bit range (the arena takes size + 12 bytes)
// is not tried: the compilation ends as out of storage instead.
[[noreturn]] void Grow(SqlCompileCtx* ctx) {
  if (int64_t{ctx->workspace_size} * 2 + WST_RESERVE_BYTES > INT32_MAX) {
    qcrestart(ctx, 1, SQLPOOL_EXHAUSTED_ERROR);
  }
  ctx->workspace_size *= 2;
  ctx->workspace_grown = 1;
  qcrestart(ctx, 1, -1);
}

void SyncUsed(SqlCompileCtx* ctx) {
  WsBlock(ctx, ctx->ws.block)[WSB_USED] = ctx->ws.used;
}

// Makes `block` current, following the chain from its head.
void SelectBlock(SqlCompileCtx* ctx, int32_t block, const char* routine) {
  if (block == 0) return;
  if (ctx->ws.chain_head == 0) qcinterr(ctx, routine, -19223);
  int32_t b = ctx->ws.chain_head;
  // The chain cannot be longer than the workspace has 8-byte slots; a longer
  // walk means a damaged link.
  int64_t steps = ctx->workspace_size / kBlockAlign + 1;
  while (b != block) {
    if (b <= 0 || b > ctx->workspace_size || --steps < 0) qcinterr(ctx, routine, -19217);
    b = WsBlock(ctx, b)[WSB_LINK];
    if (b == 0) qcinterr(ctx, routine, -19217);
  }
  if (block > ctx->ws.top_limit) {
    ctx->ws.block = block;
    ctx->ws.used = WsBlock(ctx, block)[WST_SIZE];  // a top block: its data size
    return;
  }
  ctx->ws.block = block;
  ctx->ws.used = WsBlock(ctx, block)[WSB_USED];
}

// Checks an allocation of n bytes and returns the current block's header.
// `pad` is the alignment slack before the data.
int32_t* CheckAllocation(SqlCompileCtx* ctx, int32_t n, int32_t pad, const char* routine) {
  if (n < 0 || ctx->ws.block == 0) qcinterr(ctx, routine, -19202);
  // Only the newest bottom block takes allocations, and this is tested before
  // the room: a growth cannot help in any other block (in a top block, above
  // the top limit, the room test would even fail in every attempt), so the
  // workspace would double until the storage ran out instead of the caller's
  // defect being reported.
  if (ctx->ws.block > ctx->ws.top_limit) qcinterr(ctx, routine, -19202);
  int32_t* header = WsBlock(ctx, ctx->ws.block);
  if (header[WSB_LINK] != 0) qcinterr(ctx, routine, -19202);
  if (int64_t{ctx->ws.block} + n + pad + ctx->ws.used - 1 >= ctx->ws.top_limit) Grow(ctx);
  return header;
}

// The last block of the chain, with its link 0.
int32_t LastBlock(SqlCompileCtx* ctx) {
  int32_t last = ctx->ws.chain_head;
  int64_t steps = ctx->workspace_size / kBlockAlign + 1;
  while (WsBlock(ctx, last)[WSB_LINK] != 0) {
    last = WsBlock(ctx, last)[WSB_LINK];
    if (last <= 0 || last > ctx->workspace_size || --steps < 0) {
      qcinterr(ctx, "QST: qqwsnewblk", -19217);
    }
  }
  return last;
}

// The offset just after the newest bottom block (1 when there is none).
int64_t BottomEnd(SqlCompileCtx* ctx) {
  if (ctx->ws.chain_head == 0) return 1;
  int32_t last = LastBlock(ctx);
  if (last > ctx->ws.top_limit) return 1;
  return int64_t{last} + WsBlock(ctx, last)[WSB_USED];
}

}  // namespace

void WorkspaceAllocate(SqlCompileCtx* ctx) {
  CatalogReset(ctx);  // its records live in the workspace being replaced
  ctx->typing = SqlTypingState{};
  SqlWorkspace& ws = ctx->ws;
  ws.raw = ArenaAlloc(&ctx->arena, nullptr, ctx->workspace_size + WST_RESERVE_BYTES);
  ws.scratch = static_cast<char*>(ArenaAlloc(&ctx->arena, nullptr, ctx->workspace_size));
  ws.scratch_clean = 0;
  auto raw = reinterpret_cast<uintptr_t>(ws.raw);
  uintptr_t base = (raw + kBlockAlign - 1) / kBlockAlign * kBlockAlign;
  ws.base = reinterpret_cast<char*>(base);
  ctx->workspace_size -= static_cast<int32_t>(base - raw);
  ws.top_limit = ctx->workspace_size;
  ws.block = 0;
  ws.used = 0;
  ws.chain_head = 0;
}

int32_t qqwsnewblk(SqlCompileCtx* ctx) {
  SqlWorkspace& ws = ctx->ws;
  int64_t offset = 1;
  int32_t last = 0;
  if (ws.chain_head != 0) {
    if (ws.block != 0 && ws.block <= ws.top_limit) SyncUsed(ctx);
    last = LastBlock(ctx);
    // Only top blocks so far: the first bottom block goes to offset 1.
    if (last <= ws.top_limit) {
      offset = RoundUp(int64_t{last} + WsBlock(ctx, last)[WSB_USED], kBlockAlign) + 1;
    }
  }
  // The whole header must lie below the top blocks.
  if (offset + WSB_HEADER_BYTES - 1 > ws.top_limit) Grow(ctx);
  if (last != 0) {
    WsBlock(ctx, last)[WSB_LINK] = static_cast<int32_t>(offset);
  } else {
    ws.chain_head = 1;
  }
  int32_t* header = WsBlock(ctx, static_cast<int32_t>(offset));
  header[WSB_LINK] = 0;
  header[WSB_USED] = WSB_HEADER_BYTES;
  header[WSB_ROOT] = 0;
  ws.block = static_cast<int32_t>(offset);
  ws.used = WSB_HEADER_BYTES;
  return ws.block;
}

int32_t qqwsal(SqlCompileCtx* ctx, int32_t n) {
  int32_t* header = CheckAllocation(ctx, n, 0, "QST: qqwsal");
  int32_t reference = ctx->ws.used;
  ctx->ws.used = static_cast<int32_t>(RoundUp(int64_t{ctx->ws.used} + n, 4));
  header[WSB_USED] = ctx->ws.used;
  return reference;
}

int32_t qqdbal(SqlCompileCtx* ctx, int32_t n) {
  // References count from 0 at the block start, which is 8-aligned.
  int32_t reference = static_cast<int32_t>(RoundUp(ctx->ws.used, 8));
  int32_t* header = CheckAllocation(ctx, n, reference - ctx->ws.used, "QST: qqdbal");
  ctx->ws.used = static_cast<int32_t>(RoundUp(int64_t{reference} + n, 4));
  header[WSB_USED] = ctx->ws.used;
  return reference;
}

void qqwswb(SqlCompileCtx* ctx, int32_t block) {
  if (block == 0) return;
  if (ctx->ws.block != 0 && ctx->ws.block <= ctx->ws.top_limit) SyncUsed(ctx);
  SelectBlock(ctx, block, "QST: qqwswb");
}

int32_t WorkspacePushTop(SqlCompileCtx* ctx, int32_t n) {
  SqlWorkspace& ws = ctx->ws;
  if (n < 0) qcinterr(ctx, "QST: qqwspush", -19202);
  if (ws.block != 0 && ws.block <= ws.top_limit) SyncUsed(ctx);
  // The room left is measured from the end of the newest bottom block: the
  // current block may be an older one or a top block itself. The new limit is
  // rounded down to 8, which may take it below that end: the block must fit
  // after the rounding, or its header would overwrite the bottom block's
  // last bytes.
  int64_t bottom_end = BottomEnd(ctx);
  if (bottom_end + n + WST_RESERVE_BYTES > ws.top_limit) Grow(ctx);
  int64_t limit = (int64_t{ws.top_limit} - WST_RESERVE_BYTES - n) / 8 * 8;
  if (limit < bottom_end - 1) Grow(ctx);
  ws.top_limit = static_cast<int32_t>(limit);
  int32_t block = ws.top_limit + 1;
  int32_t* header = WsBlock(ctx, block);
  header[WST_LINK] = ws.chain_head;
  header[WST_SIZE] = n;
  ws.chain_head = block;
  ws.block = block;
  ws.used = n;
  return block;
}

void WorkspacePopTop(SqlCompileCtx* ctx, int32_t block) {
  SqlWorkspace& ws = ctx->ws;
  if (block == 0 || block != ws.chain_head || block <= ws.top_limit) return;
  // The current block is selected again after the pop; when that was the
  // popped block, the selection finds it gone and reports it.
  int32_t remembered = ws.block;
  int32_t* header = WsBlock(ctx, block);
  ws.chain_head = header[WST_LINK];
  ws.top_limit = static_cast<int32_t>(
      RoundUp(int64_t{ws.top_limit} + header[WST_SIZE] + WST_RESERVE_BYTES, 8));
  // Every top block's limit lies at least 12 bytes below the one before it;
  // a limit within 8 bytes of the end is the unaligned end itself.
  if (ws.top_limit > ctx->workspace_size - kBlockAlign) ws.top_limit = ctx->workspace_size;
  ws.block = 0;
  ws.used = 0;
  SelectBlock(ctx, remembered, "QST: qqwswb");
}

int32_t qqstrget(SqlCompileCtx* ctx, char* buffer, int32_t capacity, int32_t reference) {
  if (capacity <= 0) return 0;
  if (reference == 0) {
    buffer[0] = 0;
    return 1;
  }
  const char* s = qqwsadr(ctx, reference);
  // The string cannot run past the workspace.
  int64_t room = ctx->workspace_size - (int64_t{ctx->ws.block} + reference - 1);
  int64_t limit = room < capacity - 1 ? room : capacity - 1;
  int32_t n = 0;
  while (n < limit && s[n] != 0) ++n;
  std::memcpy(buffer, s, static_cast<size_t>(n));
  buffer[n] = 0;
  return n + 1;
}
