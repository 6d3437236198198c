// Test fixtures of the compiler: a compile context over the arena's local word
// storage, and a fake diagnostics area that records every condition.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "sql/front/compile_context.h"
#include "sql/front/compile_services.h"

struct RecordedCondition {
  int32_t session;
  int32_t position;
  int32_t code;
  int32_t severity;
  std::string text;
};

// Installs the recording DSAddDiag (and a dictionary roll-back counter) for
// the life of the object, and restores the tables after.
class FakeKernel {
 public:
  FakeKernel();
  ~FakeKernel();
  static std::vector<RecordedCondition> conditions;
  static int32_t rollbacks;

 private:
  SqlKernelServices old_kernel_;
  SqlDefinitionServices old_definition_;
};

// A context with its workspace allocated and no block open.
struct TestContext {
  SqlCompileCtx ctx;
  explicit TestContext(int32_t workspace_size = kWorkspaceStartBytes);
  ~TestContext();
};

// A value that damages a word of a tree image of `bytes` bytes whose words
// from byte `first` on are its body: a reference inside the body, one around
// or past its end, an odd one, a negative one or a small number.
int32_t DamagingValue(std::mt19937& rng, int32_t first, int32_t bytes);
