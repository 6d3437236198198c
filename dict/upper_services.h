// The services the data dictionary takes from the layers above it (the
// request interface's sequence values and statement selection). Their owner
// installs the table at start; an entry nobody installed answers
// DD_SERVICE_ABSENT and logs a report naming it, never a made-up value.
#pragma once

#include <cstdint>

inline constexpr int32_t DD_SERVICE_ABSENT = -19040;

// Words of the sequence request block.
inline constexpr int32_t DDSEQ_STATUS = 0;  // 1 = next values on entry; status on return
inline constexpr int32_t DDSEQ_USR = 1;     // the requesting session
inline constexpr int32_t DDSEQ_NEXT_VALUES = 1;

struct DDUpperServices {
  // DSSeqValue: the next `count` values of `sequence` (kind in block word
  // 0), the first into *value; the status in block word 0 and returned.
  int32_t (*seq_value)(int32_t* base, int32_t* block, int32_t sequence, int32_t count,
                       int32_t* value);
  // DSSelStm: readies statement pb[2] of session pb[1] for its next run;
  // the status in pb[0].
  int32_t (*sel_stm)(int32_t* base, int32_t* pb);
  // DSPrepStm: creates shared statement `number` from its image for
  // session pb[1] into pb[2] and opens it; the status in pb[0].
  int32_t (*prep_stm)(int32_t* base, int32_t* pb, int32_t number, const int16_t* header,
                      int32_t header_length, const int32_t* body, int32_t body_length);
  // DSMapErrorCode: the kernel number in reply[1] becomes the level-2
  // reply code in reply[0]; the kernel number returned.
  int32_t (*map_error_code)(int32_t* reply);
};

// Installs `services` (not owned; null members count as not installed) and
// returns the table it replaces; nullptr takes every service away.
const DDUpperServices* DDInstallUpperServices(const DDUpperServices* services);

// DSSelStm: DD_SERVICE_ABSENT in pb[0], with a report naming "DSSelStm",
// when nobody installed it.
void DDSelStm(int32_t* base, int32_t* pb);

// DSPrepStm: DD_SERVICE_ABSENT in pb[0], with a report naming "DSPrepStm",
// when nobody installed it.
void DDPrepStm(int32_t* base, int32_t* pb, int32_t number, const int16_t* header,
               int32_t header_length, const int32_t* body, int32_t body_length);

// DSMapErrorCode: the kernel number `error` in reply[1] and the reply code
// in reply[0]; without the service, reply[0] DD_SERVICE_ABSENT, with a
// report naming "DSMapErrorCode".
void DDMapErrorCode(int32_t* reply, int32_t error);

// The dictionary's call of the sequence routine: DD_SERVICE_ABSENT, with a
// report naming "DSSeqValue", when nobody installed it.
int32_t DDSeqValue(int32_t* base, int32_t* block, int32_t sequence, int32_t count, int32_t* value);
