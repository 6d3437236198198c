// DDNewIds over the request interface's sequence routine (through the
// dictionary's service table): next values of sequence 141, `count` of them.
#include "dict/new_ids.h"

#include "dict/upper_services.h"

int32_t DDNewIds(int32_t* base, int32_t* block, int32_t count, int32_t* first) {
  if (count < 1) return block[0] = DD_BAD_PARAMETER;
  int32_t request[2] = {DDSEQ_NEXT_VALUES, block[1]};
  int32_t value = 0;
  const int32_t status = DDSeqValue(base, request, DD_ID_SEQUENCE, count, &value);
  if (status == 0) *first = value;
  return block[0] = status;
}
