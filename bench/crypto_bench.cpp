// Our SM3 against OpenSSL's EVP_sm3(), and our SM2 verification against
// OpenSSL's SM2 verification, in one run. The ratios are printed at the end
// (ours / OpenSSL's throughput; above 1.0 means ours is faster).
#include "topl/topl_sm2.h"
#include "topl/topl_sm3.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

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

// One SM2 key pair made by OpenSSL, its signature over a 64-byte message
// (ID "1234567812345678"), our key object for the public half, and e.
struct Sm2Fixture {
    EVP_PKEY *key = nullptr;
    EVP_PKEY *ours = nullptr;
    std::vector<unsigned char> msg = input(64), sig, e;
    const char *id = "1234567812345678";

    Sm2Fixture() {
        topl_sm2_init();
        key = EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2");
        X509 *x = X509_new();
        X509_set_pubkey(x, key);
        ours = topl_key_new_fromCert(x);
        X509_free(x);
        EVP_MD_CTX *md = EVP_MD_CTX_new();
        EVP_PKEY_CTX *pc = EVP_PKEY_CTX_new(key, nullptr);
        EVP_PKEY_CTX_set1_id(pc, id, 16);
        EVP_MD_CTX_set_pkey_ctx(md, pc);
        EVP_DigestSignInit(md, nullptr, EVP_sm3(), nullptr, key);
        size_t n = 128;
        sig.resize(n);
        EVP_DigestSign(md, sig.data(), &n, msg.data(), msg.size());
        sig.resize(n);
        EVP_MD_CTX_free(md);
        EVP_PKEY_CTX_free(pc);
        e.resize(32);
        tol_sm2_sm3_preprocess2(ours, msg.data(), static_cast<int>(msg.size()), nullptr, 0, e.data());
    }
};
Sm2Fixture &sm2() {
    static Sm2Fixture f;
    return f;
}

// Whole verification of a message: Z, e = SM3(Z || M), the equation.
void BM_Sm2Verify_Ours(benchmark::State &st) {
    auto &f = sm2();
    for (auto _ : st) {
        int rc = topl_sm2_verify(f.ours, nullptr, 0, f.msg.data(), static_cast<int>(f.msg.size()), f.sig.data(),
                                 static_cast<int>(f.sig.size()));
        if (rc != 0) st.SkipWithError("verification failed");
    }
}

void BM_Sm2Verify_OpenSSL(benchmark::State &st) {
    auto &f = sm2();
    for (auto _ : st) {
        EVP_MD_CTX *md = EVP_MD_CTX_new();
        EVP_PKEY_CTX *pc = EVP_PKEY_CTX_new(f.key, nullptr);
        EVP_PKEY_CTX_set1_id(pc, f.id, 16);
        EVP_MD_CTX_set_pkey_ctx(md, pc);
        int ok = EVP_DigestVerifyInit(md, nullptr, EVP_sm3(), nullptr, f.key) == 1 &&
                 EVP_DigestVerify(md, f.sig.data(), f.sig.size(), f.msg.data(), f.msg.size()) == 1;
        EVP_MD_CTX_free(md);
        EVP_PKEY_CTX_free(pc);
        if (!ok) st.SkipWithError("verification failed");
    }
}

// Verification of a ready digest e.
void BM_Sm2VerifyDigest_Ours(benchmark::State &st) {
    auto &f = sm2();
    for (auto _ : st) {
        int rc = topl_sm2_verify_opl_byDigest_evp(f.ours, f.e.data(), 32, f.sig.data(), static_cast<int>(f.sig.size()));
        if (rc != 0) st.SkipWithError("verification failed");
    }
}

void BM_Sm2VerifyDigest_OpenSSL(benchmark::State &st) {
    auto &f = sm2();
    for (auto _ : st) {
        EVP_PKEY_CTX *pc = EVP_PKEY_CTX_new(f.key, nullptr);
        int ok = EVP_PKEY_verify_init(pc) == 1 && EVP_PKEY_verify(pc, f.sig.data(), f.sig.size(), f.e.data(), 32) == 1;
        EVP_PKEY_CTX_free(pc);
        if (!ok) st.SkipWithError("verification failed");
    }
}

BENCHMARK(BM_Sm2Verify_Ours);
BENCHMARK(BM_Sm2Verify_OpenSSL);
BENCHMARK(BM_Sm2VerifyDigest_Ours);
BENCHMARK(BM_Sm2VerifyDigest_OpenSSL);

// Console output as usual, and CPU time per run kept for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> cpu;
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const auto &r : runs)
            if (!r.error_occurred) cpu[r.benchmark_name()] = r.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter rep;
    benchmark::RunSpecifiedBenchmarks(&rep);
    // Ratio = OpenSSL's time / ours = our throughput / OpenSSL's.
    const std::pair<const char *, const char *> pairs[] = {
        {"BM_Sm3_Ours/64", "BM_Sm3_OpenSSL/64"},
        {"BM_Sm3_Ours/16384", "BM_Sm3_OpenSSL/16384"},
        {"BM_Sm3_Ours/1048576", "BM_Sm3_OpenSSL/1048576"},
        {"BM_Sm2Verify_Ours", "BM_Sm2Verify_OpenSSL"},
        {"BM_Sm2VerifyDigest_Ours", "BM_Sm2VerifyDigest_OpenSSL"},
    };
    printf("\nratio (ours faster when > 1.0, CPU time)\n");
    for (const auto &[ours, theirs] : pairs) {
        auto a = rep.cpu.find(ours), b = rep.cpu.find(theirs);
        if (a != rep.cpu.end() && b != rep.cpu.end() && a->second > 0)
            printf("  %-28s %.2f\n", ours, b->second / a->second);
    }
    benchmark::Shutdown();
    return 0;
}
