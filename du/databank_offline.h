// Databanks, or the whole database, taken offline and brought back online:
// DSBkpOp7 (the database), DSBkpOp8 (one databank), DSBkpOp9 (a list
// collected name by name and then applied), with DSBkpSetOnline and
// DSBkpReattach for the database's modes 1 and 2. The dictionary, the kernel
// core, the request interface and the backup operations that apply a mode to
// a chain of databanks are reached through the utilities' service table
// (databank_utility.h).
#pragma once

#include <cstdint>

#include "du/databank_utility.h"

// pb: word 0 the mode in (1 online, 2 reattach, 3 offline), status out; word
// 1 the USR.
void DSBkpOp7(int32_t* base, int32_t* pb);
void DSBkpSetOnline(int32_t* base, int32_t* pb);
void DSBkpReattach(int32_t* base, int32_t* pb);
// One databank by name, mode in word 0.
void DSBkpOp8(int32_t* base, int32_t* pb, const char* name, int32_t name_length);
// A list: word 0 1 to 3 sets the mode, 4 adds the named databank, 5 applies.
void DSBkpOp9(int32_t* base, int32_t* pb, const char* name, int32_t name_length);
