// The four general thread-local value slots of the platform layer. Callers
// give them their meaning: slot 1 the thread's THR block index, slot 2 the
// channel (CHA) whose request the thread serves; its user is the current
// session.
#pragma once

#include <cstdint>

#include "platform/status.h"

constexpr int32_t TLS_SLOT_THR = 1;
constexpr int32_t TLS_SLOT_CHA = 2;
constexpr int32_t TLS_SLOT_COUNT = 4;

// Mode word values.
constexpr int32_t TLS_MODE_NOT_SET_UP = -1;
constexpr int32_t TLS_MODE_SINGLE = 0;  // one process-wide table of four values
constexpr int32_t TLS_MODE_MULTI = 1;   // four values per thread

// Sets the slots up; `status->rc` holds the requested mode on entry. A second
// set-up is refused with {-2, -1}.
void mdr_tls_init(StatusPair* status);
// Reads / stores the calling thread's value of `slot` (1..4). rc -1 for a
// slot out of range, -2 when the slots are not set up; a slot never stored
// reads 0.
void mdr_tls_get(StatusPair* status, int32_t* value, int32_t slot);
void mdr_tls_set(StatusPair* status, int32_t value, int32_t slot);

// Returns the slots to "not set up" and forgets every thread's values, so a
// test (or a server start in a fresh role) can set them up again.
void mdr_tls_reset();
