#include "plat_lasterror.h"

#include <cerrno>

namespace plat {

static thread_local uint32_t tlsLastError = 0;

uint32_t lastError() { return tlsLastError; }

void setLastError(uint32_t code) {
    tlsLastError = code;
    errno = static_cast<int>(code);
}

}  // namespace plat
