// XA identifier text. The hexadecimal part is bounded (398 characters for the
// global transaction identifier, 399 with the qualifier) so that the whole
// text, the decoded Tuxedo or DTC prefix included, fits kXaTextSize bytes.
#include "platform/xa_text.h"

#include <cstdio>
#include <cstring>

#include "platform/bytes.h"

namespace {

constexpr int32_t kDataBytes = 128;
constexpr int32_t kGtridTextLimit = 398;
constexpr int32_t kTextLimit = 399;
constexpr int32_t kTuxedoFormat = 40;
constexpr int32_t kDtcFormat = 0x445443;

// Hexadecimal digits of n bytes, high nibble first, while pos is below limit.
void put_hex(char* text, int32_t* pos, int32_t limit, const uint8_t* bytes, int32_t n) {
  static const char kDigits[] = "0123456789ABCDEF";
  for (int32_t i = 0; i < n; ++i) {
    if (*pos >= limit) return;
    text[(*pos)++] = kDigits[bytes[i] >> 4];
    if (*pos >= limit) return;
    text[(*pos)++] = kDigits[bytes[i] & 15];
  }
}

int32_t clamp(int32_t v, int32_t lo, int32_t hi) {
  return v < lo ? lo : (v > hi ? hi : v);
}

}  // namespace

int32_t xa_xid_text(char* target, const XaIdentifier* xid) {
  if (xid == nullptr) return std::snprintf(target, kXaTextSize, "xid NULL pointer");
  if (xid->format_id == -1) return std::snprintf(target, kXaTextSize, "xid NULL");

  const uint8_t* d = xid->data;
  int32_t start = 0;
  int written;
  if (xid->format_id == kTuxedoFormat) {
    written = std::snprintf(target, kXaTextSize, "TuxedoXid%d gtrid=x%x x%x x%x+", kTuxedoFormat,
                            d[35], load_le32(d + 36), load_le32(d + 40));
  } else if (xid->format_id == kDtcFormat) {
    written = std::snprintf(target, kXaTextSize,
                            "DTCxid%d=%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x+",
                            kDtcFormat, load_le32(d), load_le16(d + 4), load_le16(d + 6), d[8],
                            d[9], d[10], d[11], d[12], d[13], d[14], d[15]);
    start = 16;
  } else {
    written = std::snprintf(target, kXaTextSize, "xid%d=", xid->format_id);
  }
  int32_t pos = clamp(written, 0, kTextLimit);

  // Lengths come from a client: keep them inside the 128 data bytes.
  int32_t gtrid = clamp(xid->gtrid_length, 0, kDataBytes);
  if (gtrid > start) put_hex(target, &pos, kGtridTextLimit, d + start, gtrid - start);
  if (gtrid < kDataBytes && xid->bqual_length > 0 && pos < kTextLimit) {
    target[pos++] = ':';
    int32_t bqual = clamp(xid->bqual_length, 0, kDataBytes - gtrid);
    put_hex(target, &pos, kTextLimit, d + gtrid, bqual);
  }
  target[pos] = '\0';
  return pos;
}
