// SKF token adapter: loads SKF (GM/T 0016) drivers, finds the signing
// certificates on their devices, checks PINs and signs on the device.
//
// Drivers stay loaded from tutil_skf_load until tutil_skf_unloadAll. Every
// certificate found becomes a key record (tutil_skf_key) that remembers
// where its key lives, so that signing can reach it again; while a key is in
// use its device, application and container stay open in the record.
//
// Not thread-safe: the driver list and the key records belong to one thread
// (the request server's).
//
// Result codes: 0 or a count/length on success, else -10002 (missing
// argument), -10003 (signature too long) or one of TUTIL_SKF_ERR_*.
#pragma once

struct tcore_list;

#define TUTIL_SKF_ERR_LOAD          (-160131)  // the driver cannot be loaded
#define TUTIL_SKF_ERR_FUNC          (-160132)  // a function is missing from the driver
#define TUTIL_SKF_ERR_NO_DRIVER     (-160133)  // no driver with the record's id
#define TUTIL_SKF_ERR_KEY           (-160134)  // record without driver id, certificate or names
#define TUTIL_SKF_ERR_CON_TYPE      (-160135)  // container type other than 1 and 2
#define TUTIL_SKF_ERR_ENUM_DEV      (-160141)  // SKF_EnumDev failed
#define TUTIL_SKF_ERR_ENUM_APP      (-160142)  // SKF_EnumApplication failed
#define TUTIL_SKF_ERR_ENUM_CON      (-160143)  // SKF_EnumContainer failed
#define TUTIL_SKF_ERR_CONNECT       (-160144)  // SKF_ConnectDev failed
#define TUTIL_SKF_ERR_OPEN_APP      (-160145)  // SKF_OpenApplication failed
#define TUTIL_SKF_ERR_OPEN_CON      (-160146)  // SKF_OpenContainer failed
#define TUTIL_SKF_ERR_DIGEST_INIT   (-160147)  // SKF_DigestInit failed
#define TUTIL_SKF_ERR_DIGEST        (-160148)  // SKF_Digest failed
#define TUTIL_SKF_ERR_EXPORT_PUB    (-160149)  // SKF_ExportPublicKey failed
#define TUTIL_SKF_ERR_SIGN          (-160150)  // SKF_RSASignData or SKF_ECCSignData failed
#define TUTIL_SKF_ERR_PIN           (-160151)  // wrong PIN
#define TUTIL_SKF_ERR_PIN_LOCKED    (-160153)  // PIN locked (SKF 0x0A000025)
#define TUTIL_SKF_ERR_NOT_LOGGED_IN (-160157)  // signing refused, no verified PIN (0x0A00002D)

#define TUTIL_SKF_FIRST_ID      1000
#define TUTIL_SKF_NAME_SIZE     256   // names keep at most 255 characters
#define TUTIL_SKF_PIN_SIZE      64    // the PIN keeps at most 63 characters
#define TUTIL_SKF_CERT_SIZE     4096
#define TUTIL_SKF_RSA_SIG_MAX   1024  // output room needed for an RSA signature
#define TUTIL_SKF_SM2_SIG_MAX   72    // output room needed for an SM2 signature

#define TUTIL_SKF_TYPE_RSA 1
#define TUTIL_SKF_TYPE_SM2 2

// Where one certificate's key lives. Created by tutil_skf_findAllCerts,
// freed by tutil_skf_release.
struct tutil_skf_key {
    int driverId;
    char pin[TUTIL_SKF_PIN_SIZE];        // written by the signing engine; "" = no PIN check
    char devName[TUTIL_SKF_NAME_SIZE];
    char appName[TUTIL_SKF_NAME_SIZE];
    char conName[TUTIL_SKF_NAME_SIZE];
    void *module;                        // the driver's library handle
    void *hDev;                          // open handles while in use, else null
    void *hApp;
    void *hCon;
    unsigned char cert[TUTIL_SKF_CERT_SIZE];  // signing certificate, DER
    int certLen;
    int signFlag;                        // 1: exported as the signing certificate
    int conType;                         // as the driver reports it: 1 RSA, 2 SM2
    int refCount;                        // holders besides the list that found it
};

// Loads the driver at `path` (dlopen) and resolves its 31 SKF functions.
// Returns the driver id (1000, 1001, ... in load order); a path loaded
// before (exact comparison) gives its existing id. -10002 for a null or
// empty path, -160131 when the library cannot be loaded, -160132 when a
// function is missing (the first missing one is logged by its number).
int tutil_skf_load(const char *path);

// Appends a key record for every signing certificate on every present
// device of the driver to *list (created on first use; the list owns the
// records and frees them with tutil_skf_release). Devices, applications and
// containers that fail are logged and skipped. Returns the number of
// records appended; -10002 for a null list pointer, -160133 for an unknown
// driver, -160141 when the devices cannot be enumerated.
int tutil_skf_findAllCerts(int driverId, tcore_list **list);

// Opens device, application and container of the key (nothing when all
// three are open already). 0; -10002, -160134, -160135, -160133, -160144,
// -160145, -160146.
int tutil_skf_open(tutil_skf_key *key);

// Closes whatever of container, application and device is open and clears
// the handles. 0; -10002, -160134, -160135, -160133.
int tutil_skf_close(tutil_skf_key *key);

// Signs `data` on the device with the key. RSA: digest id 102 is digested
// with SHA-1 and 103 with SHA-256 on the device; 101 (MD5), 104 (SHA-512)
// and 105 (SHA-384) are digested by the adapter; any other id with SHA-1 on
// the device. The digest is signed with SKF_RSASignData. SM2: the device
// computes SM3 over Z (exported public key, ID "1234567812345678") and the
// data and signs it; the output is the DER SEQUENCE { r, s }.
// `sig` needs room for 1024 octets (RSA) or 72 (SM2). Returns the signature
// length; -10002 for a missing argument or len <= 0, -10003 for an RSA
// signature above 1024 octets, the codes of tutil_skf_open, -160151 /
// -160153 for a rejected PIN, -160147, -160148, -160149, -160150, -160157,
// or the code of topl_evp_digest_once for a digest of the adapter's own.
// On failure the key is closed; on success it stays open with its PIN
// verified.
int tutil_skf_sign(tutil_skf_key *key, const unsigned char *data, int len, int kid,
                   unsigned char *sig);

// As tutil_skf_sign, for a ready digest (at most its first 1024 octets are
// signed, as they are; `kid` is not used to digest).
int tutil_skf_signHash(tutil_skf_key *key, const unsigned char *digest, int len, int kid,
                       unsigned char *sig);

// Checks the key's PIN on the device (user PIN). 0 and the key stays open;
// otherwise the key is closed, *retry (when given) receives the tries the
// device reports left, and the result is -160151 (wrong PIN) or -160153
// (locked). -10002 for a null key or an empty PIN; the codes of
// tutil_skf_open.
int tutil_skf_verifyPin(tutil_skf_key *key, int *retry);

// Drops one reference; with none left, closes the key, wipes the PIN and
// frees the record. Null is ignored.
void tutil_skf_release(tutil_skf_key *key);

// Unloads every driver and forgets them. Ids are not handed out again, so
// a record of an unloaded driver gets -160133 instead of reaching another
// driver; loading a path again gives it a new id.
void tutil_skf_unloadAll(void);

// DER SEQUENCE { INTEGER r, INTEGER s } of an ECCSIGNATUREBLOB (128 octets:
// r and s right-aligned in 64-octet fields; their low 32 octets are taken).
// Integers are minimal DER: leading zero octets dropped, one 00 added
// before a first octet of 0x80 or above. Writes at most 72 octets to `out`
// and returns the length; -10002 for a null argument.
int tutil_skf_eccSigToDer(const unsigned char *blob, unsigned char *out);
