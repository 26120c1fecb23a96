// PKCS#11 token adapter: loads Cryptoki driver modules (.so), lists the
// signing certificates on their tokens and signs with the matching private
// keys.
//
// Drivers stay loaded from their first load until tutil_pkcs11_unloadAll.
// Every certificate found becomes a key record (tutil_pkcs11_key) that says
// where its private key lives and carries the PIN to log in with. Nothing is
// locked: one thread (the server thread) uses the adapter at a time.
//
// Return convention: 0 or more is success (an id, a count or a length);
// every failure is one of the negative codes below or TCORE_ERR_ARG (-10002,
// missing argument) or TCORE_ERR_LIB_PATH (-10014, the driver file cannot be
// opened). Cryptoki return values of failed calls are logged in hexadecimal
// ("%8X"); PINs are never logged.
#pragma once

struct tcore_list;

#define TUTIL_P11_ERR_LOAD          (-160171)  // the module cannot be loaded
#define TUTIL_P11_ERR_FUNC_MISSING  (-160172)  // one of the 12 required functions is missing
#define TUTIL_P11_ERR_NO_DRIVER     (-160173)  // no driver with that id
#define TUTIL_P11_ERR_NO_SIGN       (-160174)  // C_SignInit or C_Sign missing
#define TUTIL_P11_ERR_NO_KEY        (-160175)  // no private key with the CKA_ID and CKA_SIGN true
#define TUTIL_P11_ERR_KEY_KIND      (-160176)  // certificate neither RSA nor SM2
#define TUTIL_P11_ERR_SM2           (-160177)  // SM2 certificate: signing not supported
#define TUTIL_P11_ERR_INITIALIZE    (-160180)  // C_Initialize failed
#define TUTIL_P11_ERR_SLOT_LIST     (-160182)  // C_GetSlotList failed
#define TUTIL_P11_ERR_FIND_KEY      (-160183)  // C_FindObjectsInit for the private key failed
#define TUTIL_P11_ERR_OPEN_SESSION  (-160186)  // C_OpenSession failed (signing)
#define TUTIL_P11_ERR_LOGIN         (-160187)  // C_Login failed (wrong PIN, locked PIN, ...)
#define TUTIL_P11_ERR_SIGN_INIT     (-160188)  // C_SignInit failed
#define TUTIL_P11_ERR_SIGN          (-160189)  // C_Sign failed (or answered an impossible length)

#define TUTIL_P11_FIRST_ID     2000  // driver ids count up from here
#define TUTIL_P11_PATH_MAX     256   // driver path field: at most 255 characters kept
#define TUTIL_P11_PIN_MAX      64    // PIN field: at most 63 characters kept
#define TUTIL_P11_SIG_MAX      1024  // room the caller gives tutil_pkcs11_sign

// Where one token certificate's private key lives. Made by
// tutil_pkcs11_findAllCerts; freed by tutil_pkcs11_release.
struct tutil_pkcs11_key {
    int driverId;                     // id given by tutil_pkcs11_load
    unsigned long slotId;             // Cryptoki slot the token sits in
    char pin[TUTIL_P11_PIN_MAX];      // NUL-terminated; written by the signing engine, wiped on free
    unsigned char *ckaId;             // CKA_ID of the certificate, owned (length + 1 octets, NUL after)
    int ckaIdLen;
    unsigned char *cert;              // certificate DER (CKA_VALUE), owned (length + 1 octets, NUL after)
    int certLen;
    int slotIndex;                    // position of the slot in the slot list
    int refCount;                     // 0 when made; each extra holder adds one
};

// Loads the Cryptoki module at `path` and initialises it.
// Returns the driver id (2000, 2001, ... one per new module); the same path
// (exact, case-sensitive) loaded again returns the id it already has.
// -10002 null or empty path; -10014 the file cannot be opened for reading
// (checked before any load); -160171 dlopen failed; -160172 one of the
// required functions C_Initialize .. C_GetAttributeValue is not exported
// (module unloaded again); -160180 C_Initialize answered neither CKR_OK nor
// CKR_CRYPTOKI_ALREADY_INITIALIZED (module unloaded again).
int tutil_pkcs11_load(const char *path);

// Appends one new key record per signing certificate on every token of the
// driver to *list (a list created here with tutil_pkcs11_release as its item
// release when *list is null; the caller owns it). A certificate is kept when
// wantedKid is 0 or its public-key algorithm id equals wantedKid (201 RSA,
// 210 SM2), and its keyUsage has digitalSignature without dataEncipherment.
// Slots, sessions and objects that fail are logged and skipped.
// Returns the number of records appended (0 or more); -10002 null list;
// -160173 unknown driver id; -160182 C_GetSlotList failed.
int tutil_pkcs11_findAllCerts(int driverId, int wantedKid, tcore_list **list);

// Logs in as user with key->pin (an "already logged in" answer is accepted),
// finds the private key whose CKA_ID equals the certificate's and whose
// CKA_SIGN is true, and signs `data`. With isDigest set, data is a ready
// digest signed with CKM_RSA_PKCS unchanged (no DigestInfo is added);
// otherwise the token hashes: digestKid 101 CKM_MD5_RSA_PKCS, 102
// CKM_SHA1_RSA_PKCS, 103 CKM_SHA256_RSA_PKCS, 105 CKM_SHA384_RSA_PKCS,
// 104 CKM_SHA512_RSA_PKCS, any other id CKM_SHA1_RSA_PKCS.
// `sig` must have room for TUTIL_P11_SIG_MAX (1024) octets.
// Returns the signature length; -10002 missing key, data or sig, or
// dataLen <= 0; -160173 the key's driver is not loaded; -160174 the driver
// lacks C_SignInit or C_Sign; -160186 no session; -160187 login refused;
// -160183 key search failed; -160175 no usable private key; -160177 SM2
// certificate; -160176 certificate neither RSA nor SM2; -160188 C_SignInit
// failed; -160189 C_Sign failed. The session is closed again; there is no
// logout.
int tutil_pkcs11_sign(tutil_pkcs11_key *key, const unsigned char *data, int dataLen, int isDigest,
                      int digestKid, unsigned char *sig);

// Drops one reference: a count above 0 is decreased; at 0 the record, its
// CKA_ID and certificate buffers are freed (the PIN wiped first). Null is
// ignored.
void tutil_pkcs11_release(tutil_pkcs11_key *key);

// C_Finalize and unload every driver, then forget them all. Key records stay
// valid but can no longer sign (-160173) until their driver is loaded again
// (it then gets a new id, so old records keep failing).
void tutil_pkcs11_unloadAll(void);
