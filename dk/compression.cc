// Entry routines of key and record compression: they check every field
// against its area, choose the method and hand raw bytes to the format code
// of compression_run_length.cc and compression_back_reference.cc.
#include "dk/compression.h"

#include <algorithm>
#include <array>
#include <climits>

#include "dk/compression_internal.h"
#include "platform/host_services.h"

using namespace dk_compression;

namespace {

// Reason of the server exception for a program error.
constexpr int kInternalErrorReason = 4;

// The most compressed bytes the method-2 comparison of two keys reads.
constexpr int64_t kCompareKeysFormLimit = 16384;

void CheckMethod(int32_t method) {
  if (method != kCompressRunLength && method != kCompressBackReference) {
    RaiseServerException(kInternalErrorReason);
  }
}

bool OffsetInside(size_t area_size, int32_t offset) {
  return offset >= 0 && static_cast<size_t>(offset) <= area_size;
}

// The bytes of the area from the offset on.
int64_t RestOf(size_t area_size, int32_t offset) {
  return static_cast<int64_t>(area_size) - offset;
}

int32_t Compress(ByteSpan dest, int32_t dest_offset, int32_t* compressed_length,
                 ConstByteSpan source, int32_t source_offset, int32_t source_length,
                 int32_t method) {
  int64_t result = 0;
  if (source_length < 1) {
    result = 0;
  } else if (!field_fits(source, source_offset, source_length) ||
             !OffsetInside(dest.size(), dest_offset)) {
    result = kCompressBadParameter;
  } else {
    const uint8_t* from = source.data() + source_offset;
    uint8_t* to = dest.data() + dest_offset;
    // Room past what a length word holds is never needed.
    const int64_t room = std::min<int64_t>(RestOf(dest.size(), dest_offset), INT32_MAX);
    result = method == kCompressRunLength ? CompressRunLength(from, source_length, to, room)
                                          : CompressBackReference(from, source_length, to, room);
  }
  // The room is cut to what a length word holds, so the length fits it.
  *compressed_length = static_cast<int32_t>(result);
  return *compressed_length;
}

int32_t Expand(ByteSpan dest, int32_t dest_offset, int32_t* length, ConstByteSpan source,
               int32_t source_offset, int32_t compressed_length, int32_t method) {
  const int32_t capacity = *length;
  *length = 0;
  if (capacity < 0 || !field_fits(dest, dest_offset, capacity) ||
      !OffsetInside(source.size(), source_offset)) {
    return kCompressBadParameter;
  }
  const int64_t limit = std::min<int64_t>(compressed_length, RestOf(source.size(), source_offset));
  int64_t produced = 0;
  const uint8_t* form = source.data() + source_offset;
  uint8_t* to = dest.data() + dest_offset;
  const int32_t rc = method == kCompressRunLength
                         ? ExpandRunLength(form, limit, to, capacity, &produced)
                         : ExpandBackReference(form, limit, to, capacity, &produced);
  *length = static_cast<int32_t>(produced);
  return rc;
}

// A thread's work buffer for the method-2 comparison of two compressed keys.
thread_local std::array<uint8_t, kCompareKeyRoom> t_key_work;

}  // namespace

int32_t DKCompress(ByteSpan dest, int32_t dest_offset, int32_t* compressed_length,
                   ConstByteSpan source, int32_t source_offset, int32_t source_length,
                   int32_t method) {
  CheckMethod(method);
  return Compress(dest, dest_offset, compressed_length, source, source_offset, source_length,
                  method);
}

int32_t DKCompress2(ByteSpan dest, int32_t dest_offset, int32_t* compressed_length,
                    ConstByteSpan source, int32_t source_offset, int32_t source_length) {
  return Compress(dest, dest_offset, compressed_length, source, source_offset, source_length,
                  kCompressBackReference);
}

int32_t DKExpand(ByteSpan dest, int32_t dest_offset, int32_t* length, ConstByteSpan source,
                 int32_t source_offset, int32_t compressed_length, int32_t method) {
  CheckMethod(method);
  return Expand(dest, dest_offset, length, source, source_offset, compressed_length, method);
}

int32_t DKExpand2(ByteSpan dest, int32_t dest_offset, int32_t* length, ConstByteSpan source,
                  int32_t source_offset, int32_t compressed_length) {
  return Expand(dest, dest_offset, length, source, source_offset, compressed_length,
                kCompressBackReference);
}

int32_t DKCompareKey1(ConstByteSpan compressed, int32_t c_offset, ConstByteSpan key,
                      int32_t k_offset, int32_t key_length) {
  if (key_length < 1) return 0;
  if (!field_fits(key, k_offset, key_length) || !OffsetInside(compressed.size(), c_offset)) {
    return kCompressBadParameter;
  }
  return CompareRunLengthKey(compressed.data() + c_offset, RestOf(compressed.size(), c_offset),
                             key.data() + k_offset, key_length);
}

int32_t DKCompareKey2(ConstByteSpan compressed, int32_t c_offset, ConstByteSpan key,
                      int32_t k_offset, int32_t key_length) {
  if (key_length < 1) return 0;
  if (!field_fits(key, k_offset, key_length) || !OffsetInside(compressed.size(), c_offset)) {
    return kCompressBadParameter;
  }
  return CompareBackReferenceKey(compressed.data() + c_offset, RestOf(compressed.size(), c_offset),
                                 key.data() + k_offset, key_length);
}

int32_t DKCompareKey(ConstByteSpan compressed, int32_t c_offset, ConstByteSpan key,
                     int32_t k_offset, int32_t key_length, int32_t method) {
  CheckMethod(method);
  return method == kCompressRunLength
             ? DKCompareKey1(compressed, c_offset, key, k_offset, key_length)
             : DKCompareKey2(compressed, c_offset, key, k_offset, key_length);
}

int32_t DKCompareKeys(ConstByteSpan a, int32_t a_offset, ConstByteSpan b, int32_t b_offset,
                      int32_t key_length, int32_t method) {
  CheckMethod(method);
  if (key_length < 1) return 0;
  if (!OffsetInside(a.size(), a_offset) || !OffsetInside(b.size(), b_offset)) {
    return kCompressBadParameter;
  }
  const uint8_t* form_a = a.data() + a_offset;
  const uint8_t* form_b = b.data() + b_offset;
  const int64_t limit_a = RestOf(a.size(), a_offset);
  const int64_t limit_b = RestOf(b.size(), b_offset);
  if (method == kCompressRunLength) {
    return CompareRunLengthKeys(form_a, limit_a, form_b, limit_b, key_length);
  }
  if (key_length > kCompareKeyRoom) return kCompressBadParameter;
  uint8_t* work = t_key_work.data();
  int64_t produced = 0;
  const int32_t rc = ExpandBackReference(form_b, std::min(limit_b, kCompareKeysFormLimit), work,
                                         key_length, &produced);
  // A key form that ends before the key does is cut off: comparing only what
  // it gave could find two different keys equal.
  if (rc != 0 || produced < key_length) return kCompressCorrupt;
  return CompareBackReferenceKey(form_a, limit_a, work, produced);
}
