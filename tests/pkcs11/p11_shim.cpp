// A Cryptoki module for the adapter tests. It forwards every call to the
// SoftHSM2 module (loaded privately, so the adapter cannot reach it through
// this module's dependencies) and leaves out whatever its variant says:
//   P11_SHIM_NO_SIGN      does not export C_Sign
//   P11_SHIM_NO_LOGIN     does not export C_Login (a required function)
//   P11_SHIM_INIT_FAILS   C_Initialize answers CKR_FUNCTION_FAILED
//   P11_SHIM_LIAR         bends the answers as the environment variable
//                         P11_SHIM_LIE says (read at every call):
//                           slot-count         C_GetSlotList claims 5 more slots than it wrote
//                           value-huge         CKA_VALUE length queries answer 2^40
//                           value-unavailable  CKA_VALUE length queries answer "unavailable"
//                           value-grows        CKA_VALUE reads claim 64 octets more than written
//                           sig-long           C_Sign claims a 4096-octet signature
#include "tutil/tutil_pkcs11_ck.h"

#include <cstdlib>
#include <cstring>
#include <dlfcn.h>

namespace {

void *target() {
    static void *module = dlopen(P11_SHIM_TARGET, RTLD_NOW | RTLD_LOCAL);
    return module;
}

template <typename F>
F real(const char *name) {
    void *module = target();
    return module ? reinterpret_cast<F>(dlsym(module, name)) : nullptr;
}

}  // namespace

#define P11_SHIM_EXPORT extern "C" __attribute__((visibility("default")))
#define P11_SHIM_FORWARD(name, params, args)                  \
    P11_SHIM_EXPORT CK_RV name params {                       \
        auto fwd = real<CK_##name>(#name);                    \
        return fwd ? fwd args : CKR_GENERAL_ERROR;            \
    }

#ifdef P11_SHIM_INIT_FAILS
P11_SHIM_EXPORT CK_RV C_Initialize(CK_VOID_PTR) { return CKR_FUNCTION_FAILED; }
#else
P11_SHIM_FORWARD(C_Initialize, (CK_VOID_PTR a), (a))
#endif
P11_SHIM_FORWARD(C_Finalize, (CK_VOID_PTR a), (a))
#ifndef P11_SHIM_LIAR
P11_SHIM_FORWARD(C_GetSlotList, (CK_BBOOL p, CK_SLOT_ID *l, CK_ULONG *n), (p, l, n))
#endif
P11_SHIM_FORWARD(C_GetSlotInfo, (CK_SLOT_ID s, CK_VOID_PTR i), (s, i))
P11_SHIM_FORWARD(C_GetTokenInfo, (CK_SLOT_ID s, CK_VOID_PTR i), (s, i))
P11_SHIM_FORWARD(C_OpenSession, (CK_SLOT_ID s, CK_FLAGS f, CK_VOID_PTR a, CK_NOTIFY n, CK_SESSION_HANDLE *h),
                 (s, f, a, n, h))
P11_SHIM_FORWARD(C_CloseSession, (CK_SESSION_HANDLE h), (h))
#ifndef P11_SHIM_NO_LOGIN
P11_SHIM_FORWARD(C_Login, (CK_SESSION_HANDLE h, CK_USER_TYPE u, CK_UTF8CHAR *p, CK_ULONG n), (h, u, p, n))
#endif
P11_SHIM_FORWARD(C_FindObjectsInit, (CK_SESSION_HANDLE h, CK_ATTRIBUTE *t, CK_ULONG n), (h, t, n))
P11_SHIM_FORWARD(C_FindObjects, (CK_SESSION_HANDLE h, CK_OBJECT_HANDLE *o, CK_ULONG m, CK_ULONG *n),
                 (h, o, m, n))
P11_SHIM_FORWARD(C_FindObjectsFinal, (CK_SESSION_HANDLE h), (h))
#ifndef P11_SHIM_LIAR
P11_SHIM_FORWARD(C_GetAttributeValue, (CK_SESSION_HANDLE h, CK_OBJECT_HANDLE o, CK_ATTRIBUTE *t, CK_ULONG n),
                 (h, o, t, n))
#endif
P11_SHIM_FORWARD(C_Logout, (CK_SESSION_HANDLE h), (h))
P11_SHIM_FORWARD(C_SignInit, (CK_SESSION_HANDLE h, CK_MECHANISM *m, CK_OBJECT_HANDLE k), (h, m, k))
#if !defined(P11_SHIM_NO_SIGN) && !defined(P11_SHIM_LIAR)
P11_SHIM_FORWARD(C_Sign, (CK_SESSION_HANDLE h, CK_BYTE *d, CK_ULONG n, CK_BYTE *s, CK_ULONG *sn),
                 (h, d, n, s, sn))
#endif

#ifdef P11_SHIM_LIAR
static bool lie(const char *what) {
    const char *l = getenv("P11_SHIM_LIE");
    return l && strcmp(l, what) == 0;
}

P11_SHIM_EXPORT CK_RV C_GetSlotList(CK_BBOOL p, CK_SLOT_ID *l, CK_ULONG *n) {
    CK_RV rv = real<CK_C_GetSlotList>("C_GetSlotList")(p, l, n);
    if (rv == CKR_OK && l && lie("slot-count")) *n += 5;
    return rv;
}

P11_SHIM_EXPORT CK_RV C_GetAttributeValue(CK_SESSION_HANDLE h, CK_OBJECT_HANDLE o, CK_ATTRIBUTE *t, CK_ULONG n) {
    CK_RV rv = real<CK_C_GetAttributeValue>("C_GetAttributeValue")(h, o, t, n);
    if (rv != CKR_OK) return rv;
    for (CK_ULONG i = 0; i < n; ++i) {
        if (t[i].type != CKA_VALUE) continue;
        if (!t[i].pValue && lie("value-huge")) t[i].ulValueLen = 1UL << 40;
        if (!t[i].pValue && lie("value-unavailable")) t[i].ulValueLen = CK_UNAVAILABLE_INFORMATION;
        if (t[i].pValue && lie("value-grows")) t[i].ulValueLen += 64;
    }
    return rv;
}

P11_SHIM_EXPORT CK_RV C_Sign(CK_SESSION_HANDLE h, CK_BYTE *d, CK_ULONG n, CK_BYTE *s, CK_ULONG *sn) {
    CK_RV rv = real<CK_C_Sign>("C_Sign")(h, d, n, s, sn);
    if (rv == CKR_OK && lie("sig-long")) *sn = 4096;
    return rv;
}
#endif
