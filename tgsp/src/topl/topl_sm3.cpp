// SM3 with a fully unrolled compression function: the 64 rounds are spelled
// out with rotating variable names so no state word is ever moved, and the
// message expansion is computed in step with the rounds in sixteen
// variables instead of a 68-word array.
#include "topl/topl_sm3.h"

#include <cstring>

namespace {

constexpr uint32_t kIv[8] = {0x7380166F, 0x4914B2B9, 0x172442D7, 0xDA8A0600,
                             0xA96F30BC, 0x163138AA, 0xE38DEE4D, 0xB0FB0E4E};

inline uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> ((32 - n) & 31)); }
inline uint32_t load32(const unsigned char *p) {
    uint32_t v;
    memcpy(&v, p, 4);
    return __builtin_bswap32(v);  // message words are big-endian
}
inline void store32(unsigned char *p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}
inline uint32_t p0(uint32_t x) { return x ^ rotl(x, 9) ^ rotl(x, 17); }
inline uint32_t p1(uint32_t x) { return x ^ rotl(x, 15) ^ rotl(x, 23); }

#define FF0(x, y, z) ((x) ^ (y) ^ (z))
#define GG0(x, y, z) ((x) ^ (y) ^ (z))
#define FF1(x, y, z) (((x) & (y)) | (((x) | (y)) & (z)))
#define GG1(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))

// One round j with K = T_j <<< (j mod 32), Wi = W[j], Wj = W[j + 4]. On entry
// A..H are the state; TT1 ends in D and P0(TT2) in H, B and F are rotated in
// place, so the next round takes the variables as (D, A, B, C, H, E, F, G).
#define SM3_ROUND(A, B, C, D, E, F, G, H, K, FF, GG, Wi, Wj)        \
    do {                                                             \
        uint32_t a12 = rotl(A, 12);                                  \
        uint32_t ss1 = rotl(a12 + (K) + E, 7);                       \
        D = D + ((Wi) ^ (Wj)) + FF(A, B, C) + (ss1 ^ a12);           \
        H = H + (Wi) + GG(E, F, G) + ss1;                            \
        B = rotl(B, 9);                                              \
        F = rotl(F, 19);                                             \
        H = p0(H);                                                   \
    } while (0)
#define R1(A, B, C, D, E, F, G, H, K, Wi, Wj) SM3_ROUND(A, B, C, D, E, F, G, H, K, FF0, GG0, Wi, Wj)
#define R2(A, B, C, D, E, F, G, H, K, Wi, Wj) SM3_ROUND(A, B, C, D, E, F, G, H, K, FF1, GG1, Wi, Wj)

// W[j + 16] from W[j], W[j + 7], W[j + 13], W[j + 3], W[j + 10].
#define EXPAND(W0, W7, W13, W3, W10) (p1((W0) ^ (W7) ^ rotl(W13, 15)) ^ rotl(W3, 7) ^ (W10))

// The message words live in a ring of sixteen variables: round j reads
// W[j] and W[j + 4] and then replaces W[j] by W[j + 16] (needed up to
// W[67], so the last twelve rounds expand nothing).
__attribute__((always_inline)) inline void compressBody(uint32_t state[8], const unsigned char *p, size_t blocks) {
    while (blocks--) {
        uint32_t w0 = load32(p), w1 = load32(p + 4), w2 = load32(p + 8), w3 = load32(p + 12);
        uint32_t w4 = load32(p + 16), w5 = load32(p + 20), w6 = load32(p + 24), w7 = load32(p + 28);
        uint32_t w8 = load32(p + 32), w9 = load32(p + 36), w10 = load32(p + 40), w11 = load32(p + 44);
        uint32_t w12 = load32(p + 48), w13 = load32(p + 52), w14 = load32(p + 56), w15 = load32(p + 60);
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        uint32_t e = state[4], f = state[5], g = state[6], h = state[7];

    R1(a, b, c, d, e, f, g, h, 0x79CC4519U, w0, w4); w0 = EXPAND(w0, w7, w13, w3, w10);
    R1(d, a, b, c, h, e, f, g, 0xF3988A32U, w1, w5); w1 = EXPAND(w1, w8, w14, w4, w11);
    R1(c, d, a, b, g, h, e, f, 0xE7311465U, w2, w6); w2 = EXPAND(w2, w9, w15, w5, w12);
    R1(b, c, d, a, f, g, h, e, 0xCE6228CBU, w3, w7); w3 = EXPAND(w3, w10, w0, w6, w13);
    R1(a, b, c, d, e, f, g, h, 0x9CC45197U, w4, w8); w4 = EXPAND(w4, w11, w1, w7, w14);
    R1(d, a, b, c, h, e, f, g, 0x3988A32FU, w5, w9); w5 = EXPAND(w5, w12, w2, w8, w15);
    R1(c, d, a, b, g, h, e, f, 0x7311465EU, w6, w10); w6 = EXPAND(w6, w13, w3, w9, w0);
    R1(b, c, d, a, f, g, h, e, 0xE6228CBCU, w7, w11); w7 = EXPAND(w7, w14, w4, w10, w1);
    R1(a, b, c, d, e, f, g, h, 0xCC451979U, w8, w12); w8 = EXPAND(w8, w15, w5, w11, w2);
    R1(d, a, b, c, h, e, f, g, 0x988A32F3U, w9, w13); w9 = EXPAND(w9, w0, w6, w12, w3);
    R1(c, d, a, b, g, h, e, f, 0x311465E7U, w10, w14); w10 = EXPAND(w10, w1, w7, w13, w4);
    R1(b, c, d, a, f, g, h, e, 0x6228CBCEU, w11, w15); w11 = EXPAND(w11, w2, w8, w14, w5);
    R1(a, b, c, d, e, f, g, h, 0xC451979CU, w12, w0); w12 = EXPAND(w12, w3, w9, w15, w6);
    R1(d, a, b, c, h, e, f, g, 0x88A32F39U, w13, w1); w13 = EXPAND(w13, w4, w10, w0, w7);
    R1(c, d, a, b, g, h, e, f, 0x11465E73U, w14, w2); w14 = EXPAND(w14, w5, w11, w1, w8);
    R1(b, c, d, a, f, g, h, e, 0x228CBCE6U, w15, w3); w15 = EXPAND(w15, w6, w12, w2, w9);
    R2(a, b, c, d, e, f, g, h, 0x9D8A7A87U, w0, w4); w0 = EXPAND(w0, w7, w13, w3, w10);
    R2(d, a, b, c, h, e, f, g, 0x3B14F50FU, w1, w5); w1 = EXPAND(w1, w8, w14, w4, w11);
    R2(c, d, a, b, g, h, e, f, 0x7629EA1EU, w2, w6); w2 = EXPAND(w2, w9, w15, w5, w12);
    R2(b, c, d, a, f, g, h, e, 0xEC53D43CU, w3, w7); w3 = EXPAND(w3, w10, w0, w6, w13);
    R2(a, b, c, d, e, f, g, h, 0xD8A7A879U, w4, w8); w4 = EXPAND(w4, w11, w1, w7, w14);
    R2(d, a, b, c, h, e, f, g, 0xB14F50F3U, w5, w9); w5 = EXPAND(w5, w12, w2, w8, w15);
    R2(c, d, a, b, g, h, e, f, 0x629EA1E7U, w6, w10); w6 = EXPAND(w6, w13, w3, w9, w0);
    R2(b, c, d, a, f, g, h, e, 0xC53D43CEU, w7, w11); w7 = EXPAND(w7, w14, w4, w10, w1);
    R2(a, b, c, d, e, f, g, h, 0x8A7A879DU, w8, w12); w8 = EXPAND(w8, w15, w5, w11, w2);
    R2(d, a, b, c, h, e, f, g, 0x14F50F3BU, w9, w13); w9 = EXPAND(w9, w0, w6, w12, w3);
    R2(c, d, a, b, g, h, e, f, 0x29EA1E76U, w10, w14); w10 = EXPAND(w10, w1, w7, w13, w4);
    R2(b, c, d, a, f, g, h, e, 0x53D43CECU, w11, w15); w11 = EXPAND(w11, w2, w8, w14, w5);
    R2(a, b, c, d, e, f, g, h, 0xA7A879D8U, w12, w0); w12 = EXPAND(w12, w3, w9, w15, w6);
    R2(d, a, b, c, h, e, f, g, 0x4F50F3B1U, w13, w1); w13 = EXPAND(w13, w4, w10, w0, w7);
    R2(c, d, a, b, g, h, e, f, 0x9EA1E762U, w14, w2); w14 = EXPAND(w14, w5, w11, w1, w8);
    R2(b, c, d, a, f, g, h, e, 0x3D43CEC5U, w15, w3); w15 = EXPAND(w15, w6, w12, w2, w9);
    R2(a, b, c, d, e, f, g, h, 0x7A879D8AU, w0, w4); w0 = EXPAND(w0, w7, w13, w3, w10);
    R2(d, a, b, c, h, e, f, g, 0xF50F3B14U, w1, w5); w1 = EXPAND(w1, w8, w14, w4, w11);
    R2(c, d, a, b, g, h, e, f, 0xEA1E7629U, w2, w6); w2 = EXPAND(w2, w9, w15, w5, w12);
    R2(b, c, d, a, f, g, h, e, 0xD43CEC53U, w3, w7); w3 = EXPAND(w3, w10, w0, w6, w13);
    R2(a, b, c, d, e, f, g, h, 0xA879D8A7U, w4, w8); w4 = EXPAND(w4, w11, w1, w7, w14);
    R2(d, a, b, c, h, e, f, g, 0x50F3B14FU, w5, w9); w5 = EXPAND(w5, w12, w2, w8, w15);
    R2(c, d, a, b, g, h, e, f, 0xA1E7629EU, w6, w10); w6 = EXPAND(w6, w13, w3, w9, w0);
    R2(b, c, d, a, f, g, h, e, 0x43CEC53DU, w7, w11); w7 = EXPAND(w7, w14, w4, w10, w1);
    R2(a, b, c, d, e, f, g, h, 0x879D8A7AU, w8, w12); w8 = EXPAND(w8, w15, w5, w11, w2);
    R2(d, a, b, c, h, e, f, g, 0x0F3B14F5U, w9, w13); w9 = EXPAND(w9, w0, w6, w12, w3);
    R2(c, d, a, b, g, h, e, f, 0x1E7629EAU, w10, w14); w10 = EXPAND(w10, w1, w7, w13, w4);
    R2(b, c, d, a, f, g, h, e, 0x3CEC53D4U, w11, w15); w11 = EXPAND(w11, w2, w8, w14, w5);
    R2(a, b, c, d, e, f, g, h, 0x79D8A7A8U, w12, w0); w12 = EXPAND(w12, w3, w9, w15, w6);
    R2(d, a, b, c, h, e, f, g, 0xF3B14F50U, w13, w1); w13 = EXPAND(w13, w4, w10, w0, w7);
    R2(c, d, a, b, g, h, e, f, 0xE7629EA1U, w14, w2); w14 = EXPAND(w14, w5, w11, w1, w8);
    R2(b, c, d, a, f, g, h, e, 0xCEC53D43U, w15, w3); w15 = EXPAND(w15, w6, w12, w2, w9);
    R2(a, b, c, d, e, f, g, h, 0x9D8A7A87U, w0, w4); w0 = EXPAND(w0, w7, w13, w3, w10);
    R2(d, a, b, c, h, e, f, g, 0x3B14F50FU, w1, w5); w1 = EXPAND(w1, w8, w14, w4, w11);
    R2(c, d, a, b, g, h, e, f, 0x7629EA1EU, w2, w6); w2 = EXPAND(w2, w9, w15, w5, w12);
    R2(b, c, d, a, f, g, h, e, 0xEC53D43CU, w3, w7); w3 = EXPAND(w3, w10, w0, w6, w13);
    R2(a, b, c, d, e, f, g, h, 0xD8A7A879U, w4, w8);
    R2(d, a, b, c, h, e, f, g, 0xB14F50F3U, w5, w9);
    R2(c, d, a, b, g, h, e, f, 0x629EA1E7U, w6, w10);
    R2(b, c, d, a, f, g, h, e, 0xC53D43CEU, w7, w11);
    R2(a, b, c, d, e, f, g, h, 0x8A7A879DU, w8, w12);
    R2(d, a, b, c, h, e, f, g, 0x14F50F3BU, w9, w13);
    R2(c, d, a, b, g, h, e, f, 0x29EA1E76U, w10, w14);
    R2(b, c, d, a, f, g, h, e, 0x53D43CECU, w11, w15);
    R2(a, b, c, d, e, f, g, h, 0xA7A879D8U, w12, w0);
    R2(d, a, b, c, h, e, f, g, 0x4F50F3B1U, w13, w1);
    R2(c, d, a, b, g, h, e, f, 0x9EA1E762U, w14, w2);
    R2(b, c, d, a, f, g, h, e, 0x3D43CEC5U, w15, w3);

        state[0] ^= a;
        state[1] ^= b;
        state[2] ^= c;
        state[3] ^= d;
        state[4] ^= e;
        state[5] ^= f;
        state[6] ^= g;
        state[7] ^= h;
        p += 64;
    }
}

void compressGeneric(uint32_t state[8], const unsigned char *p, size_t blocks) { compressBody(state, p, blocks); }

// The same code built for processors with BMI2: its non-destructive rotate
// (rorx) saves the register copies that most rotations otherwise need.
__attribute__((target("bmi2"))) void compressBmi2(uint32_t state[8], const unsigned char *p, size_t blocks) {
    compressBody(state, p, blocks);
}

using CompressFn = void (*)(uint32_t *, const unsigned char *, size_t);

CompressFn pickCompress() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("bmi2") ? compressBmi2 : compressGeneric;
}

inline void compressBlocks(uint32_t state[8], const unsigned char *p, size_t blocks) {
    static const CompressFn compress = pickCompress();  // chosen once, also safe during static start-up
    compress(state, p, blocks);
}

}  // namespace

void topl_sm3_compress(uint32_t state[8], const unsigned char block[64]) { compressBlocks(state, block, 1); }

void topl_sm3_init(topl_sm3_ctx *ctx) {
    ctx->count[0] = ctx->count[1] = 0;
    memcpy(ctx->state, kIv, sizeof kIv);
    memset(ctx->buf, 0, sizeof ctx->buf);
}

void topl_sm3_update(topl_sm3_ctx *ctx, const unsigned char *data, int len) {
    if (len <= 0 || !data) return;
    uint32_t n = static_cast<uint32_t>(len);
    uint32_t used = ctx->count[0] & 63;
    ctx->count[0] += n;
    if (ctx->count[0] < n) ctx->count[1]++;

    if (used) {
        uint32_t fill = 64 - used;
        if (n < fill) {
            memcpy(ctx->buf + used, data, n);
            return;
        }
        memcpy(ctx->buf + used, data, fill);
        compressBlocks(ctx->state, ctx->buf, 1);
        data += fill;
        n -= fill;
    }
    if (n >= 64) {
        compressBlocks(ctx->state, data, n / 64);
        data += n & ~63u;
        n &= 63;
    }
    if (n) memcpy(ctx->buf, data, n);
}

void topl_sm3_final(topl_sm3_ctx *ctx, unsigned char out[32]) {
    unsigned char bits[8];
    uint32_t hi = (ctx->count[1] << 3) | (ctx->count[0] >> 29);
    uint32_t lo = ctx->count[0] << 3;
    store32(bits, hi);
    store32(bits + 4, lo);

    static const unsigned char kPad[64] = {0x80};
    uint32_t used = ctx->count[0] & 63;
    uint32_t padLen = used < 56 ? 56 - used : 120 - used;
    topl_sm3_update(ctx, kPad, static_cast<int>(padLen));
    topl_sm3_update(ctx, bits, 8);
    for (int i = 0; i < 8; ++i) store32(out + 4 * i, ctx->state[i]);
}

void topl_sm3_digest(const unsigned char *data, int len, unsigned char out[32]) {
    topl_sm3_ctx ctx;
    topl_sm3_init(&ctx);
    if (len > 0) topl_sm3_update(&ctx, data, len);
    topl_sm3_final(&ctx, out);
}
