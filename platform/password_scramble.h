// The one-way ident password scramble: the stored form of an ident's password,
// computed when it is stored, changed or checked. It has no inverse; checking
// a password means scrambling it again and comparing the stored bytes.
#pragma once

#include <cstdint>

// Scrambles an 8-byte block in place: the block read as a base-256 number
// (first byte most significant) passed through a fixed polynomial modulo the
// prime 2^64 - 59.
void mdr_password_scramble(uint8_t block[8]);

constexpr int kPasswordBytes = 18;

// The stored form of a password: the 18-byte blank-padded password combined
// with the 18-byte blank-padded ident name, all 18 bytes scrambled so that
// every stored byte depends on every byte of both.
void mdr_password_scramble_ident(uint8_t stored[kPasswordBytes],
                                 const uint8_t password[kPasswordBytes],
                                 const uint8_t ident[kPasswordBytes]);
