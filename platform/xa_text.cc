// XA identifier text. The hexadecimal part is bounded (398 characters for the
// global transaction identifier, 399 with the qualifier) so that the whole
// text, the decoded Tuxedo or DTC prefix included, fits kXaTextSize bytes.
#include "platform/xa_text.h"

#include <cstdio>
#include <cstring>

#include "platform/bytes.h"
#include "platform/text_buffer.h"

namespace {

constexpr int32_t kDataBytes = 128;
constexpr int32_t kGtridTextLimit = 398;
constexpr int32_t kTextLimit = 399;
constexpr int32_t kTuxedoFormat = 40;
constexpr int32_t kDtcFormat = 0x445443;

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
  ByteSpan text(reinterpret_cast<uint8_t*>(target), kXaTextSize);
  ConstByteSpan data(xid->data);
  if (gtrid > start) textbuf_put_hex(text, &pos, kGtridTextLimit, data, start, gtrid - start);
  if (gtrid < kDataBytes && xid->bqual_length > 0 && pos < kTextLimit) {
    target[pos++] = ':';
    int32_t bqual = clamp(xid->bqual_length, 0, kDataBytes - gtrid);
    textbuf_put_hex(text, &pos, kTextLimit, data, gtrid, bqual);
  }
  target[pos] = '\0';
  return pos;
}
