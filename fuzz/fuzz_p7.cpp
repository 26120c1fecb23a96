// libFuzzer target: the PKCS#7 parser, the extractors and verification on
// arbitrary bytes. The first input byte picks how the rest is handed over,
// so that detached verification with caller content is reached too.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include <openssl/x509.h>

#include "tasn1/tasn1.h"
#include "topl/topl_p7sign.h"
#include "topl/topl_sm2.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    topl_sm2_init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2 || size > (1u << 20)) return 0;
    const uint8_t selector = data[0];
    // A private copy exactly as long as the message: any read beyond it is
    // an overflow the sanitizer reports.
    std::vector<unsigned char> msg(data + 1, data + size);
    const int n = static_cast<int>(msg.size());

    auto info = std::make_unique<topl_p7_info>();
    topl_p7_parse(msg.data(), n, info.get());

    unsigned char small[16];
    topl_p7sign_parseData(msg.data(), n, small, sizeof small);
    int clen = topl_p7sign_parseData(msg.data(), n, nullptr, 0);
    if (clen > 0) {
        std::vector<unsigned char> buf(clen);
        topl_p7sign_parseData(msg.data(), n, buf.data(), clen);
    }
    int tlen = topl_p7sign_parseSignCert(msg.data(), n, nullptr, 0);
    if (tlen > 0) {
        std::vector<char> buf(tlen);
        topl_p7sign_parseSignCert(msg.data(), n, buf.data(), tlen);
    }
    X509_free(topl_p7sign_getSignCert(msg.data(), n));

    // Verification with the selector's mode. In mode 2 the bytes behind the
    // outer TLV (or, failing that, the last few) are the caller's content.
    int mode = selector % 3;
    if (mode == 2 && n > 8) {
        int split = n - (selector % 8) - 1;
        int outer = 0;
        int k = tasn1_len_decode(msg.data() + 1, n - 1, &outer);
        if (k > 0 && outer >= 0 && outer < n - 1 - k) split = 1 + k + outer;
        std::vector<unsigned char> p7(msg.begin(), msg.begin() + split);
        std::vector<unsigned char> content(msg.begin() + split, msg.end());
        topl_p7sign_verify(p7.data(), split, content.data(), static_cast<int>(content.size()), 2);
    } else {
        topl_p7sign_verify(msg.data(), n, nullptr, 0, mode);
    }
    return 0;
}
