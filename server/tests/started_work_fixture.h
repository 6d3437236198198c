// The started database with the dictionary's work and the compiler's table
// lookup at hand, for the tests that read and write its catalog.
#pragma once

#include <cstdint>
#include <string>

#include "dict/compiler_lookups.h"
#include "dict/dictionary_services.h"
#include "dict/work_block.h"
#include "server/testing/started_database.h"

class StartedWorkTest : public StartedDatabaseTest {
 protected:
  // Dictionary work of session `usr` begun; its status.
  int32_t Begin(int32_t usr) {
    int32_t pb[2] = {0, usr};
    DDBegWork(base_, pb);
    return pb[0];
  }
  // Dictionary work of session `usr` ended with `outcome` (0 commits); its
  // status.
  int32_t End(int32_t usr, int32_t outcome) {
    int32_t pb[2] = {outcome, usr};
    DDEndWork(base_, pb);
    return pb[0];
  }
  // The attributes of table schema.name as session `usr` finds it; the
  // status.
  int32_t Find(int32_t usr, const std::string& schema, const std::string& name,
               DDTableAttr* a) {
    int32_t pb[2] = {0, usr};
    DDTableName n;
    n.schema = schema.data();
    n.schema_length = static_cast<int32_t>(schema.size());
    n.name = name.data();
    n.name_length = static_cast<int32_t>(name.size());
    DDCmpTableAttr(base_, pb, n, false, a);
    return pb[0];
  }
};
