// Test fixtures of the compiler: the recording diagnostics area and contexts
// over the arena's local word storage.
#include "sql/front/tests/compile_test_support.h"

std::vector<RecordedCondition> FakeKernel::conditions;
int32_t FakeKernel::rollbacks = 0;

namespace {

void RecordDiag(int32_t session, int32_t position, int32_t code, int32_t severity, const char* text,
                int32_t length) {
  FakeKernel::conditions.push_back({session, position, code, severity, std::string(text, length)});
}

void CountRollback(SqlCompileCtx*, int32_t* status, int32_t mode) {
  if (mode == 1) ++FakeKernel::rollbacks;
  *status = 0;
}

}  // namespace

FakeKernel::FakeKernel() {
  conditions.clear();
  rollbacks = 0;
  SqlKernelServices k;
  k.pool = ArenaLocalBase();
  k.add_diag = RecordDiag;
  old_kernel_ = SqlInstallKernelServices(&k);
  SqlDefinitionServices d;
  d.qrdend = CountRollback;
  old_definition_ = SqlInstallDefinitionServices(&d);
}

FakeKernel::~FakeKernel() {
  SqlInstallKernelServices(&old_kernel_);
  SqlInstallDefinitionServices(&old_definition_);
}

TestContext::TestContext(int32_t workspace_size) {
  ArenaUseLocalStorage(&ctx.arena);
  ctx.arena.minimum_chunk = 65536;
  ctx.workspace_size = workspace_size;
  ctx.highest_severity = 0;
  WorkspaceAllocate(&ctx);
}

TestContext::~TestContext() {
  ArenaRelease(&ctx.arena);
}

int32_t DamagingValue(std::mt19937& rng, int32_t first, int32_t bytes) {
  const uint32_t words = static_cast<uint32_t>((bytes - first) / 4);
  switch (rng() % 5) {
    case 0:
      return static_cast<int32_t>(first + 4 * static_cast<int32_t>(rng() % (words == 0 ? 1 : words)));
    case 1:
      return bytes - 8 + static_cast<int32_t>(rng() % 72);
    case 2:
      return static_cast<int32_t>(rng() % 2000) | 1;
    case 3:
      return -static_cast<int32_t>(rng() % 1000);
    default:
      return static_cast<int32_t>(rng() % 120);
  }
}
