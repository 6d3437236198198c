// The definition-work service table: each call goes to the installed entry,
// or logs the service's name and answers -19040 when there is none.
#include "du/definition_services.h"

#include <atomic>
#include <cstring>

#include "du/record_access_words.h"
#include "kernel/error_report.h"

namespace {

std::atomic<const DUDefinitionServices*> g_services{nullptr};

int32_t Absent(const char* name) {
  DSErrRep(name, static_cast<int32_t>(std::strlen(name)), DU_NOT_INITIALISED, SEV_ERROR);
  return DU_NOT_INITIALISED;
}

template <typename Member, typename... Args>
int32_t Call(Member member, const char* name, Args... args) {
  const DUDefinitionServices* s = g_services.load(std::memory_order_acquire);
  if (!s || !(s->*member)) return Absent(name);
  return (s->*member)(args...);
}

}  // namespace

const DUDefinitionServices* DUInstallDefinitionServices(const DUDefinitionServices* services) {
  return g_services.exchange(services, std::memory_order_acq_rel);
}

int32_t DUOpenDatabankKind(int32_t* base, int32_t usr, int32_t kind, int32_t id, int32_t* dcb) {
  return Call(&DUDefinitionServices::open_databank_kind, "DSOpenDbReq", base, usr, kind, id, dcb);
}
int32_t DUOpenTableDefinition(int32_t* base, int32_t usr, int32_t* record,
                              const int32_t* description) {
  return Call(&DUDefinitionServices::open_table, "DSOpenTable", base, usr, record, description);
}
int32_t DUOpenLobdir(int32_t* base, int32_t dcb, int32_t tname) {
  return Call(&DUDefinitionServices::open_lobdir, "DSOpnLobdir2", base, dcb, tname);
}
int32_t DUNewShpPsm(int32_t* base, int32_t usr, int32_t key, int32_t* shp) {
  return Call(&DUDefinitionServices::new_shp_psm, "DSNewShpPsm", base, usr, key, shp);
}
int32_t DURelShpPsm(int32_t* base, int32_t usr, int32_t* shp) {
  return Call(&DUDefinitionServices::rel_shp_psm, "DSRelShpPsm", base, usr, shp);
}
int32_t DUInstallTranslation(int32_t* base, int32_t usr, int32_t id) {
  return Call(&DUDefinitionServices::install_translation, "XLInstallTable", base, usr, id);
}
