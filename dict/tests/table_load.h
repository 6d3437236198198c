// The kernel's description loader for tests whose headers clash with its
// own: loads table `table` into the calling thread's CDITCB.
#pragma once

#include <cstdint>
#include <vector>

struct TableLoad {
  int32_t status, lid, key_length, record_length, description;
};
TableLoad LoadTableDescription(int32_t* base, int32_t table);

// The entries of the description in the calling thread's CDITCB (area
// `cditcb`): kind, number, a foreign key's referred table and index each;
// a reference entry's three words.
struct TableLoadEntry {
  int32_t kind, number, fk_table, fk_index;
  bool operator==(const TableLoadEntry&) const = default;
};
std::vector<TableLoadEntry> TableDescriptionEntries(int32_t* base, int32_t cditcb);
// The large-object entry of that description: its words up to its end
// word, or none.
std::vector<int32_t> TableDescriptionLobs(int32_t* base, int32_t cditcb);
