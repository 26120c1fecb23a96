// libFuzzer target: the DER readers of tasn1 on arbitrary bytes. Each input
// is walked as a tree through the index reads (depth and width bounded),
// and handed to the length decoder and the certificate inspections.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tasn1/tasn1.h"

namespace {

// Fails the run when a reader hands back an item outside the bytes it read.
void inside(const tasn1_item &it, const unsigned char *p, int n) {
    if (it.length <= 0) return;
    if (it.bytes < p || it.length > p + n - it.bytes) abort();
}

void walk(const unsigned char *p, int n, int depth) {
    if (depth > 6 || n <= 0) return;
    int count = tasn1_sequence_decode_getSize(p, n);
    if (count > 64) count = 64;
    for (int i = 0; i <= count; i++) {  // one past the end as well
        tasn1_item tlv, val;
        if (tasn1_sequence_decode_getTLV(p, n, i, &tlv) >= 0) {
            inside(tlv, p, n);
            if (tlv.length > 0) walk(tlv.bytes, tlv.length, depth + 1);
        }
        if (tasn1_sequence_decode_getValue(p, n, i, &val) >= 0) {
            inside(val, p, n);
            if (val.length > 0) walk(val.bytes, val.length, depth + 1);
        }
    }
    tasn1_item one;
    if (tasn1_decode_tlv(p, n, &one) >= 0) inside(one, p, n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0 || size > (1u << 16)) return 0;
    std::vector<unsigned char> buf(data, data + size);
    const int n = static_cast<int>(size);

    int len = 0;
    tasn1_len_decode(buf.data(), n, &len);
    walk(buf.data(), n, 0);

    // Certificate inspections take DER as is; base64 and PEM text must be
    // NUL-terminated, so those get a terminated copy.
    std::vector<char> text(buf.begin(), buf.end());
    text.push_back('\0');
    tasn1_cert_getPubKeyKid(text.data(), n);
    tasn1_cert_getKeyUsageKind(text.data(), n);
    unsigned char *der = nullptr;
    if (tasn1_cert_toDer(text.data(), n, &der) >= 0) free(der);
    return 0;
}
