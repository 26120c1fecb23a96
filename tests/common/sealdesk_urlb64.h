// URL-safe base64 as pages send it, for tests that link tcore.
#pragma once
#include "tcore/tcore_base64.h"

#include <string>

namespace sealdesk_test {

// Standard base64 of `text` with "-" for "+", "_" for "/" and "~" for "=".
inline std::string urlB64(const std::string &text) {
    std::string out((text.size() + 2) / 3 * 4 + 1, '\0');
    int n = tcore_base64_encode(out.data(), text.c_str(), static_cast<int>(text.size()),
                                static_cast<int>(out.size()));
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    for (char &c : out) c = c == '+' ? '-' : c == '/' ? '_' : c == '=' ? '~' : c;
    return out;
}

}  // namespace sealdesk_test
