// The printable form of an XA transaction identifier, as logs and dumps show
// it: the format identifier (with the Tuxedo and DTC forms decoded) and the
// identifier bytes in hexadecimal.
#pragma once

#include <cstdint>

struct XaIdentifier {
  int32_t format_id;     // -1: the null identifier
  int32_t gtrid_length;  // bytes of the global transaction identifier
  int32_t bqual_length;  // bytes of the branch qualifier that follow it
  uint8_t data[128];
};

// Room the text needs, its NUL included.
constexpr int kXaTextSize = 400;

// Writes the text and a NUL into target (kXaTextSize bytes) and returns its
// length; a null identifier pointer gives "xid NULL pointer".
int32_t xa_xid_text(char* target, const XaIdentifier* xid);
