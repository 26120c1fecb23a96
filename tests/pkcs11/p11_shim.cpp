// A Cryptoki module for the adapter tests. It forwards every call to the
// SoftHSM2 module (loaded privately, so the adapter cannot reach it through
// this module's dependencies) and leaves out whatever its variant says:
//   P11_SHIM_NO_SIGN      does not export C_Sign
//   P11_SHIM_NO_LOGIN     does not export C_Login (a required function)
//   P11_SHIM_INIT_FAILS   C_Initialize answers CKR_FUNCTION_FAILED
#include "tutil/tutil_pkcs11_ck.h"

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
P11_SHIM_FORWARD(C_GetSlotList, (CK_BBOOL p, CK_SLOT_ID *l, CK_ULONG *n), (p, l, n))
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
P11_SHIM_FORWARD(C_GetAttributeValue, (CK_SESSION_HANDLE h, CK_OBJECT_HANDLE o, CK_ATTRIBUTE *t, CK_ULONG n),
                 (h, o, t, n))
P11_SHIM_FORWARD(C_Logout, (CK_SESSION_HANDLE h), (h))
P11_SHIM_FORWARD(C_SignInit, (CK_SESSION_HANDLE h, CK_MECHANISM *m, CK_OBJECT_HANDLE k), (h, m, k))
#ifndef P11_SHIM_NO_SIGN
P11_SHIM_FORWARD(C_Sign, (CK_SESSION_HANDLE h, CK_BYTE *d, CK_ULONG n, CK_BYTE *s, CK_ULONG *sn),
                 (h, d, n, s, sn))
#endif
