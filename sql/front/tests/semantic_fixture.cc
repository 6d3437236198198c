// The fixture of the semantic analysis tests (semantic_fixture.h).
#include "sql/front/tests/semantic_fixture.h"

#include <algorithm>
#include <cstring>

#include "sql/front/stmt_tree.h"
#include "sql/front/stored_trees.h"
#include "sql/front/tree_copy.h"
#include "sql/front/view_definition.h"
#include "sql/front/view_merge.h"

// The compile driver's entry and its request and result words (its header
// names words the kernel's headers name too).
void qmcpsn(int32_t* result, const uint8_t* text, int32_t* start, int32_t text_length,
            const int32_t* host_variables, int32_t* request, const int32_t* name_pairs,
            const char* name_area, int32_t name_area_bytes);

namespace {

constexpr int32_t kResultWordCount = 8, kResultStatus = 0, kResultKind = 4;
constexpr int32_t kRequestWordCount = 13, kRequestMode = 0, kRequestSession = 1;
constexpr int32_t kRequestFirstOption = 6, kRequestSecondOption = 7;

int32_t* g_pool = nullptr;
Compiled* g_out = nullptr;
int32_t g_session = 0;

void Diag(int32_t, int32_t, int32_t code, int32_t severity, const char* text, int32_t length) {
  if (g_out == nullptr) return;
  g_out->conditions.push_back(
      SemCondition{code, severity, text != nullptr ? std::string(text, static_cast<size_t>(length))
                                                   : std::string()});
}

void AllocWords(int32_t* index, int32_t words) {
  DSGetMem(g_pool, index, words * 4);
}

std::string Counted(SqlCompileCtx* ctx, int32_t record) {
  if (record <= 0) return std::string();
  int32_t n = WsWord(ctx, record, 0);
  return std::string(qqwsadr(ctx, record) + 4, static_cast<size_t>(n < 0 ? 0 : n));
}

// The semantic phase, with a look at the tree before the driver lets it go.
void InspectedSemantics(SqlCompileCtx* ctx, int32_t root) {
  if (SemanticTest::before_analysis) SemanticTest::before_analysis(ctx, root);
  qmdrive(ctx, root);
  Compiled& out = *g_out;
  out.analysed = true;
  out.depth_after = ctx->trav.depth;
  out.lookups = ctx->catalog.lookups;
  out.printed = SqlPrintStatement(ctx, root);
  for (int32_t c = ctx->query.table_refs; c != 0; c = WsWord(ctx, c, CELL_NEXT)) {
    int32_t ref = WsWord(ctx, c, CELL_VALUE);
    std::string b = std::string(qqwsadr(ctx, WsWord(ctx, ref, TRF_EXPOSED))) + "@" +
                    std::to_string(WsWord(ctx, ref, TRF_LEVEL)) + ":";
    std::vector<std::string> names;
    for (int32_t k = WsWord(ctx, ref, TRF_COLUMNS); k != 0; k = WsWord(ctx, k, CELL_NEXT)) {
      int32_t column = WsWord(ctx, k, CELL_VALUE);
      // A view's column that became its defining expression names none.
      if (WsWord(ctx, column, EXN_KIND) != kExprColumnRef) continue;
      names.insert(names.begin(), SemColumnName(ctx, column));
    }
    for (size_t i = 0; i < names.size(); ++i) b += (i == 0 ? "" : ",") + names[i];
    out.bindings.push_back(b);
  }
  for (int32_t c = ctx->query.result_columns; c != 0; c = WsWord(ctx, c, CELL_NEXT)) {
    int32_t type = WsWord(ctx, WsWord(ctx, c, CELL_VALUE), RSC_TYPE);
    out.result_types.push_back(type <= 0 ? std::string("none")
                                         : std::to_string(WsWord(ctx, type, 0)) + "(" +
                                               std::to_string(WsWord(ctx, type, 1)) + "," +
                                               std::to_string(WsWord(ctx, type, 2)) + ")");
  }
  if (SemanticTest::inspect) SemanticTest::inspect(ctx, root);
  int32_t top = WsWord(ctx, root, STN_ROOT_TOP);
  if (top <= 0 || WsWord(ctx, top, STN_KIND) != 21) return;
  for (int32_t c = WsWord(ctx, top, QST_ORDER_BY); c != 0; c = WsWord(ctx, c, CELL_NEXT)) {
    out.sort_positions.push_back(WsWord(ctx, WsWord(ctx, c, CELL_VALUE), SRT_POSITION));
  }
  int32_t query = WsWord(ctx, top, QST_QUERY);
  if (query <= 0 || WsWord(ctx, query, STN_KIND) != 28) return;
  out.from_items = qqllen(ctx, WsWord(ctx, query, QSP_FROM));
  for (int32_t c = WsWord(ctx, query, QSP_SELECT); c != 0; c = WsWord(ctx, c, CELL_NEXT)) {
    int32_t item = WsWord(ctx, c, CELL_VALUE);
    std::string text = WsWord(ctx, item, SLI_FORM) == 2
                           ? SqlPrintExpression(ctx, WsWord(ctx, WsWord(ctx, item, SLI_VALUE),
                                                              EXN_OPERAND1))
                           : std::string("*");
    std::string name = Counted(ctx, WsWord(ctx, item, SLI_NAME));
    out.items.push_back(name.empty() ? text : text + " AS " + name);
  }
}

}  // namespace

std::function<void(SqlCompileCtx*, int32_t root)> SemanticTest::inspect;
std::function<void(SqlCompileCtx*, int32_t root)> SemanticTest::before_analysis;

std::string CodesText(const std::vector<int32_t>& codes) {
  std::string s;
  for (int32_t c : codes) s += std::to_string(c) + " ";
  return s;
}

void SemanticTest::SetUp() {
  LookupTest::SetUp();
  if (HasFatalFailure()) return;
  old_dict_ = SqlInstallDictionaryServices(nullptr);
  DDInstallCompilerServices(base_);
  pool_ = SqlPoolCreate(int64_t{1} << 26, 1 << 20);
  g_pool = pool_;
  int32_t w = 1 << 20;
  DSPoolMem(pool_, &w, -1, 0);
  SqlKernelServices k;
  k.pool = pool_;
  k.add_diag = Diag;
  k.alloc_words = AllocWords;
  old_kernel_ = SqlInstallKernelServices(&k);
  old_phases_ = SqlInstallPhaseServices(nullptr);
  SqlInstallParsePhase();
  SqlPhaseServices phases = SqlPhases();
  phases.semantic = InspectedSemantics;
  SqlInstallPhaseServices(&phases);
  g_session = usr_;
  // Unqualified names follow the user's path: the schema ADAM alone.
  SetPathTo("ADAM");
}

void SemanticTest::TearDown() {
  inspect = nullptr;
  before_analysis = nullptr;
  if (pool_ != nullptr) {
    SqlInstallKernelServices(&old_kernel_);
    SqlInstallPhaseServices(&old_phases_);
    SqlInstallDictionaryServices(&old_dict_);
    SqlPoolDestroy(pool_);
    pool_ = nullptr;
  }
  LookupTest::TearDown();
}

void SemanticTest::MakeTable(int32_t id, const std::string& name, std::vector<TestColumn> columns,
                             bool grant, const std::string& schema) {
  ASSERT_EQ(BegWork(), 0);
  std::vector<ColumnSpec> specs;
  for (const TestColumn& c : columns) specs.push_back({c.name, c.type, c.length, c.scale});
  ASSERT_EQ(InsBaseTable(id, schema, name, specs), 0) << name;
  int32_t pb[2] = {0, usr_};
  if (grant) {
    DDInsTablePriv(base_, pb, id, 1, "ADAM", 4, "EVE", 3, false, false);
    ASSERT_EQ(pb[0], 0) << name;
  }
  ASSERT_EQ(EndWork(0), 0);
}

void SemanticTest::GrantChanges(int32_t id, const std::vector<const char*>& columns) {
  ASSERT_EQ(BegWork(), 0);
  for (int32_t privilege : {2, 3, 4}) {
    int32_t pb[2] = {0, usr_};
    DDInsTablePriv(base_, pb, id, privilege, "ADAM", 4, "EVE", 3, false, false);
    ASSERT_EQ(pb[0], 0);
    if (privilege == 3) continue;
    for (const char* column : columns) {
      DDInsColumnPriv(base_, pb, id, privilege, column, static_cast<int32_t>(std::strlen(column)),
                      "ADAM", 4, "EVE", 3, false);
      ASSERT_EQ(pb[0], 0);
    }
  }
  ASSERT_EQ(EndWork(0), 0);
}

void SemanticTest::InstallLayingOptimizer() {
  SqlOptimizerServices fake;
  fake.qodrive = [](SqlCompileCtx*, int32_t) {};
  fake.qoarof = [](SqlCompileCtx*, int32_t, int32_t, int32_t* key, int32_t* row, int32_t*, int32_t,
                   int32_t) {
    *key = 0;
    *row = 0;
    return 8000;
  };
  SqlInstallOptimizerServices(&fake);
}

std::string SemanticTest::MakeView(int32_t id, const std::string& name, const std::string& query,
                                   std::vector<TestColumn> columns) {
  std::string image;
  int32_t updatable = 0;
  int32_t check_option = 0;
  auto outer_inspect = inspect;
  inspect = [&](SqlCompileCtx* ctx, int32_t root) {
    image = qmviewimage(ctx, root);
    if (image.empty()) return;
    updatable = WsWord(ctx, WsWord(ctx, root, STN_ROOT_TOP), VDF_UPDATABLE);
    check_option = WsWord(ctx, WsWord(ctx, root, STN_ROOT_TOP), VDF_CHECK_OPTION);
  };
  Compiled c = Compile("CREATE VIEW " + name + " AS " + query, 2);
  inspect = outer_inspect;
  EXPECT_TRUE(c.conditions.empty()) << name << ": " << CodesText(c.Codes());
  if (image.empty()) return image;
  EXPECT_EQ(BegWork(), 0);
  std::vector<ColumnSpec> specs;
  for (const TestColumn& c : columns) specs.push_back({c.name, c.type, c.length, c.scale});
  int32_t status = InsView(id, "ADAM", name, query, updatable == 1, specs, image, check_option != 0);
  int32_t pb[2] = {status, usr_};
  if (pb[0] == 0) DDInsTablePriv(base_, pb, id, 1, "ADAM", 4, "EVE", 3, false, false);
  EXPECT_EQ(pb[0], 0) << name;
  EXPECT_EQ(EndWork(0), 0);
  return image;
}

void SemanticTest::MakeFixtureTables() {
  MakeTable(5001, "T", {{"A", 3, 10, 0}, {"B", 3, 10, 0}, {"C", 1, 10, 0}});
  MakeTable(5002, "S", {{"A", 3, 10, 0}, {"D", 3, 10, 0}});
  MakeTable(5003, "R", {{"E", 3, 10, 0}, {"F", 2, 10, 2}, {"G", 32, 1000, 0}});
  MakeTable(5004, "P", {{"X", 3, 10, 0}, {"Y", 3, 10, 0}}, false);
  MakeTable(5100, "Q", {{"H", 34, 5, 0}, {"I", 5, 30, 0}});
}

Compiled SemanticTest::Compile(const std::string& sql, int32_t mode,
                               std::pair<int32_t, int32_t> options) {
  Compiled out;
  g_out = &out;
  std::vector<uint8_t> text;
  for (unsigned char c : sql) text.insert(text.end(), {0, 0, c});
  std::vector<int32_t> result(kResultWordCount, 99);
  int32_t request[kRequestWordCount] = {};
  request[kRequestMode] = mode;
  request[kRequestSession] = usr_;
  request[kRequestFirstOption] = options.first;
  request[kRequestSecondOption] = options.second;
  int32_t start = 0;
  static const int32_t kNoHosts[3] = {0, 0, 0};
  EXPECT_EQ(BegWork(), 0);
  std::string area;
  int32_t pairs[8] = {};
  for (size_t i = 0; i < caller_names_.size() && i < 4; ++i) {
    pairs[2 * i] = static_cast<int32_t>(area.size());
    pairs[2 * i + 1] = static_cast<int32_t>(caller_names_[i].size());
    area += caller_names_[i];
  }
  bool named = caller_names_.size() == 4;
  qmcpsn(result.data(), text.data(), &start, static_cast<int32_t>(sql.size()), kNoHosts, request,
         named ? pairs : nullptr, named ? area.data() : nullptr,
         static_cast<int32_t>(area.size()));
  EXPECT_EQ(EndWork(1), 0);
  g_out = nullptr;
  out.status = result[kResultStatus];
  out.kind = result[kResultKind];
  return out;
}

StoredTreeOverride::StoredTreeOverride(int32_t id, const std::string* image) {
  id_ = id;
  image_ = image;
  under_ = SqlInstallDictionaryServices(nullptr);
  SqlDictionaryServices mine = under_;
  mine.source_info = Info;
  mine.source_read = Read;
  SqlInstallDictionaryServices(&mine);
}

StoredTreeOverride::~StoredTreeOverride() {
  SqlInstallDictionaryServices(&under_);
}

int32_t StoredTreeOverride::Info(int32_t session, int32_t id, int32_t item, int32_t* total) {
  if (id != id_) return under_.source_info(session, id, item, total);
  *total = static_cast<int32_t>(image_->size());
  return 0;
}

int32_t StoredTreeOverride::Read(int32_t session, int32_t id, int32_t item, uint8_t* buffer,
                                 int32_t capacity, int32_t* length) {
  if (id != id_) return under_.source_read(session, id, item, buffer, capacity, length);
  int32_t n = std::min(capacity, static_cast<int32_t>(image_->size()));
  std::memcpy(buffer, image_->data(), static_cast<size_t>(n));
  *length = n;
  return 0;
}
