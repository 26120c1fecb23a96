#include "tcore/tcore_errors.h"
#include "tcore/tcore_log.h"
#include "topl/topl_alg.h"
#include "topl/topl_errors.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(ToplAlg, OidToKidPrefixRule) {
    struct Case {
        const char *oid;
        int kid;
    } cases[] = {
        {"1.2.840.113549.2.5", 101},     {"1.3.14.3.2.26", 102},
        {"2.16.840.1.101.3.4.2.1", 103}, {"2.16.840.1.101.3.4.2.3", 104},
        {"2.16.840.1.101.3.4.2.2", 105}, {"1.2.156.10197.1.401", 110},
        {"1.2.156.10197.1.401.1", 111},  {"1.2.840.113549.1.1.1", 201},
        {"1.2.840.113549.1.1.5", 202},   {"1.2.156.10197.1.301", 210},
        {"1.2.156.10197.1.301.1", 211},  {"1.2.156.10197.1.301.3", 212},
        {"1.2.156.10197.1.501", 610},    {"1.2.156.10197.1.104", 311},
        {"1.2.156.10197.1.104.1", 312},  {"1.2.156.10197.1.104.2", 313},
        {"1.2.840.113549.3.4", 620},     {"1.2.840.113549.3.7", 323},
        {"1.3.14.3.2.17", 322},          {"2.16.840.1.101.3.4.1.41", 332},
        {"2.16.840.1.101.3.4.1.42", 333},
        // Prefixes find the first row that begins with them.
        {"1.2.156.10197.1.30", 210},     {"", 101},
        {"2.16", 103},
        // Not in the table (signature OIDs, longer texts, garbage).
        {"1.2.840.113549.1.1.4", TOPL_ERR_ALG}, {"1.2.840.113549.2.55", TOPL_ERR_ALG},
        {"1.2.156.10197.1.401.2", TOPL_ERR_ALG}, {"x", TOPL_ERR_ALG},
    };
    for (const auto &c : cases) EXPECT_EQ(topl_alg_oid2kid(c.oid), c.kid) << c.oid;
    EXPECT_EQ(topl_alg_oid2kid(nullptr), TCORE_ERR_ARG);
}

TEST(ToplAlg, SignatureOidsAndCryptoApiIds) {
    EXPECT_EQ(topl_alg_sigOid2kid("1.2.840.113549.1.1.4"), 101);
    EXPECT_EQ(topl_alg_sigOid2kid("1.2.840.113549.1.1.5"), 102);
    EXPECT_EQ(topl_alg_sigOid2kid("1.2.840.113549.1.1.11"), 103);
    EXPECT_EQ(topl_alg_sigOid2kid("1.2.840.113549.1.1.12"), 105);
    EXPECT_EQ(topl_alg_sigOid2kid("1.2.840.113549.1.1.13"), 104);
    EXPECT_EQ(topl_alg_sigOid2kid("1.2.840.113549.1.1.1"), TOPL_ERR_ALG);  // whole-string match only
    EXPECT_EQ(topl_alg_sigOid2kid("1.2.840.113549.1.1"), TOPL_ERR_ALG);
    EXPECT_EQ(topl_alg_sigOid2kid(nullptr), TOPL_ERR_ALG);

    struct Case {
        int kid;
        unsigned calg;
    } cases[] = {{101, 0x8003}, {102, 0x8004}, {103, 0x800C}, {104, 0x800E}, {105, 0x800D},
                 {108, 0x8008}, {110, 0x800F}, {111, 0x8004}, {201, 0x8004}, {999, 0x8004}};
    for (const auto &c : cases) EXPECT_EQ(topl_alg_kid2calg(c.kid), c.calg) << c.kid;
}

TEST(ToplAlg, Pkcs7OidSets) {
    struct Case {
        int kid;
        const char *digest;
    } cases[] = {{101, "1.2.840.113549.2.5"},     {102, "1.3.14.3.2.26"},
                 {103, "2.16.840.1.101.3.4.2.1"}, {104, "2.16.840.1.101.3.4.2.3"},
                 {105, "2.16.840.1.101.3.4.2.2"}, {110, "1.3.14.3.2.26"}, {0, "1.3.14.3.2.26"}};
    for (const auto &c : cases) {
        topl_p7oids rec;
        memset(&rec, 0xAB, sizeof rec);
        ASSERT_EQ(topl_p7oids_setRsa(&rec, c.kid), &rec);
        EXPECT_STREQ(rec.digestOid, c.digest) << c.kid;
        EXPECT_STREQ(rec.sigAlgOid, "1.2.840.113549.1.1.1");
        EXPECT_EQ(rec.sigParamOid, nullptr);
        EXPECT_STREQ(rec.dataOid, "1.2.840.113549.1.7.1");
        EXPECT_STREQ(rec.signedDataOid, "1.2.840.113549.1.7.2");
    }
    topl_p7oids sm2;
    memset(&sm2, 0xAB, sizeof sm2);
    ASSERT_EQ(topl_p7oids_setSm2(&sm2), &sm2);
    EXPECT_STREQ(sm2.digestOid, "1.2.156.10197.1.401");
    EXPECT_STREQ(sm2.sigAlgOid, "1.2.156.10197.1.301.1");
    EXPECT_EQ(sm2.sigParamOid, nullptr);
    EXPECT_STREQ(sm2.dataOid, "1.2.156.10197.6.1.4.2.1");
    EXPECT_STREQ(sm2.signedDataOid, "1.2.156.10197.6.1.4.2.2");
    EXPECT_EQ(topl_p7oids_setRsa(nullptr, 103), nullptr);
    EXPECT_EQ(topl_p7oids_setSm2(nullptr), nullptr);
}

std::vector<std::string> g_lines;
void capture(const char *text) { g_lines.emplace_back(text); }

TEST(ToplAlg, OpensslErrorTakesOneCodeAndLogsIt) {
    ERR_clear_error();
    g_lines.clear();
    tcore_log_sink = capture;
    EXPECT_EQ(topl_opensslError(), 0u);
    EXPECT_TRUE(g_lines.empty());

    // Two failing OpenSSL calls queue two errors; one call takes the oldest.
    EXPECT_EQ(EVP_get_digestbyname("no-such-digest"), nullptr);
    const unsigned char junk[] = {0x01, 0x02};
    const unsigned char *p = junk;
    EXPECT_EQ(d2i_PUBKEY(nullptr, &p, sizeof junk), nullptr);
    unsigned long oldest = ERR_peek_error();
    ASSERT_NE(oldest, 0u);
    EXPECT_EQ(topl_opensslError(), oldest);
    ASSERT_EQ(g_lines.size(), 1u);
    char text[256];
    ERR_error_string_n(oldest, text, sizeof text);
    std::string expect = "\nOPENSSL ERROR: [" + std::to_string(static_cast<int>(oldest)) + "] " + text + "\n";
    EXPECT_NE(g_lines[0].find(expect), std::string::npos) << g_lines[0];
    EXPECT_NE(ERR_peek_error(), 0u);  // the rest stays queued
    ERR_clear_error();
    tcore_log_sink = nullptr;
}

}  // namespace
