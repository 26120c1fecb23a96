// SM3 hash (GM/T 0004-2012), the library's own implementation.
#pragma once
#include <cstdint>

#define TOPL_SM3_DIGEST_LENGTH 32
#define TOPL_SM3_BLOCK_SIZE    64

// SM3 context. Plain data: copy it to fork a computation.
struct topl_sm3_ctx {
    uint32_t count[2];     // byte count, low word first (64 bits in all)
    uint32_t state[8];     // chaining state
    unsigned char buf[64]; // bytes of the current incomplete block
};

// Count 0 and the initial value of GM/T 0004.
void topl_sm3_init(topl_sm3_ctx *ctx);
// Absorbs len bytes; a length of 0 or less (or null data) changes nothing.
void topl_sm3_update(topl_sm3_ctx *ctx, const unsigned char *data, int len);
// Pads, absorbs the bit length and writes the 32-byte digest to out. The
// context must be initialised again before further use.
void topl_sm3_final(topl_sm3_ctx *ctx, unsigned char out[32]);
// One-shot digest; a length of 0 or less (or null data) hashes the empty message.
void topl_sm3_digest(const unsigned char *data, int len, unsigned char out[32]);
// The compression function: folds one 64-byte block into the state.
void topl_sm3_compress(uint32_t state[8], const unsigned char block[64]);
