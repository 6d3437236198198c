// Layout and addressing of the kernel's hash lists (see hash_lists.h).
#include "kernel/hash_lists.h"

#include "kernel/word_storage.h"
#include "platform/enqdeq.h"

int32_t HashListBytes(int32_t buckets, int32_t head_stride, int32_t sem_stride) {
  (void)sem_stride;
  return 4 * (HL_HEADS + head_stride * (buckets - 1) + 1);
}

int32_t HashListCreate(int32_t* base, int32_t buckets, int32_t head_stride, int32_t sem_stride) {
  int32_t list = 0;
  DSGetMem(base, &list, HashListBytes(buckets, head_stride, sem_stride));
  if (list == 0) return 0;
  sqlpool_word(base, list + HL_BUCKETS) = buckets;
  sqlpool_word(base, list + HL_HEAD_STRIDE) = head_stride;
  sqlpool_word(base, list + HL_SEM_STRIDE) = sem_stride;
  sqlpool_word(base, list + 3) = 0;
  const int32_t semaphores = sem_stride == 0 ? 1 : buckets;
  for (int32_t i = 0; i < semaphores; ++i)
    enqdeq_init_semaphore(&sqlpool_word(base, list + HL_SEM + sem_stride * i), 1);
  return list;
}

int32_t HashListBucket(const int32_t* base, int32_t list, int64_t key) {
  const int64_t n = base[list - 1 + HL_BUCKETS];
  if (n <= 0) return -1;
  int64_t b = key % n;
  return static_cast<int32_t>(b < 0 ? -b : b);
}

int32_t HashListHead(const int32_t* base, int32_t list, int32_t bucket) {
  return list + HL_HEADS + base[list - 1 + HL_HEAD_STRIDE] * bucket;
}

int32_t* HashListSemaphore(int32_t* base, int32_t list, int32_t bucket) {
  return &sqlpool_word(base, list + HL_SEM + sqlpool_word(base, list + HL_SEM_STRIDE) * bucket);
}
