// Software certificate contexts and system certificate stores.
//
// A certificate context is a reference-counted object: the DER of one X.509
// certificate, its parsed form and a table of properties by numeric id.
// Whoever receives a context from a function here owns one reference and
// gives it back with plat::cert::release().
//
// System stores live in the registry (plat_registry.h):
//   <root>\SOFTWARE\Microsoft\SystemCertificates\<STORE>\Certificates\<SHA-1>
// one key per certificate, named by its SHA-1 thumbprint in upper-case hex,
// holding the DER in the binary value "Blob" and each property in a binary
// value "Prop" + four upper-case hex digits of its id ("Prop0002").
// Current-user stores ("MY", "CORVINA", ...) live under CurrentUser, the
// machine's stores ("root") under LocalMachine. Store names compare without
// regard to case, as registry key names do.
//
// Functions that can fail return false or null and set the last error
// (plat_lasterror.h) to one of the PLAT_E_* / PLAT_ERROR_* values.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include <openssl/x509.h>

namespace plat::cert {

struct Context;
struct Store;

// Property ids with a meaning of their own. User properties are 0x8000 + n.
enum : uint32_t {
    PROP_KEY_PROV_INFO = 2,   // key-provider information (encodeKeyProvInfo)
    PROP_SHA1_HASH = 3,       // SHA-1 thumbprint (computed, read-only)
    PROP_FRIENDLY_NAME = 11,  // free text
    PROP_FIRST_USER = 0x8000,
    PROP_LAST = 0xFFFF,
};

// ---- contexts ----------------------------------------------------------

// New context (one reference) from DER bytes. Null when the bytes are not
// exactly one X.509 certificate (last error PLAT_E_ASN1_BAD).
Context *create(const uint8_t *der, size_t len);
// Adds a reference and returns the same context (null stays null).
Context *duplicate(Context *ctx);
// Drops one reference; the last one frees the context. Null is ignored.
void release(Context *ctx);

// Borrowed views, valid while the caller holds a reference.
const std::vector<uint8_t> &der(const Context *ctx);
const X509 *x509(const Context *ctx);

// Encoded subject / issuer names (DER of the Name).
std::vector<uint8_t> subjectName(const Context *ctx);
std::vector<uint8_t> issuerName(const Context *ctx);

// Serial number content octets, least significant byte first (a leading 0x00
// of the DER stays, as the last byte).
std::vector<uint8_t> serialLittleEndian(const Context *ctx);

// SHA-1 of the DER: 20 bytes, and as 40 upper-case hex digits.
std::vector<uint8_t> sha1(const Context *ctx);
std::string thumbprint(const Context *ctx);

// Dotted OID of the subject public key's algorithm ("1.2.840.113549.1.1.1").
std::string publicKeyAlgorithm(const Context *ctx);

// Same issuer (encoded bytes) and same serial number.
bool sameIssuerAndSerial(const Context *a, const Context *b);

// notBefore / notAfter in UTC (either pointer may be null). False when a time
// cannot be converted (last error PLAT_E_ASN1_BAD).
bool validity(const Context *ctx, struct tm *notBefore, struct tm *notAfter);
// -1 when `now` lies before notBefore, +1 after notAfter, 0 inside. A time
// that cannot be read counts as outside (+1).
int checkTime(const Context *ctx, time_t now);

// Key usage: the first byte(s) of the keyUsage bit string into out (at most
// outLen bytes, the rest zeroed). True when the extension is present; false
// with last error 0 when the certificate has none; false with
// PLAT_E_ASN1_BAD when it cannot be decoded.
bool intendedKeyUsage(const Context *ctx, uint8_t *out, size_t outLen);

// Properties. get: true and the bytes when present; false with
// PLAT_E_NOT_FOUND when not. set: stores a copy (replacing an older value);
// data null removes it. Ids 0 and PROP_SHA1_HASH cannot be set
// (PLAT_ERROR_INVALID_PARAMETER). A context that came from a store writes
// the change through to the store; false when that fails (last error
// PLAT_ERROR_ACCESS_DENIED or PLAT_E_WRITE), the context then stays unchanged.
bool getProperty(const Context *ctx, uint32_t id, std::vector<uint8_t> *out);
bool setProperty(Context *ctx, uint32_t id, const uint8_t *data, size_t len);
// Ids of every property the context carries, ascending.
std::vector<uint32_t> propertyIds(const Context *ctx);

// Key-provider information, the value of PROP_KEY_PROV_INFO.
struct KeyProvInfo {
    std::string container;  // key container name
    std::string provider;   // provider (CSP) name
    uint32_t provType = 0;  // 1 RSA full, 24 RSA AES
    uint32_t flags = 0;
    uint32_t keySpec = 0;   // 1 exchange, 2 signature
};
std::vector<uint8_t> encodeKeyProvInfo(const KeyProvInfo &info);
// False for bytes that are not a complete encoding (bounds-checked).
bool decodeKeyProvInfo(const uint8_t *data, size_t len, KeyProvInfo *info);

// ---- names -------------------------------------------------------------

// Text of an encoded Name in the X.500 string form: RDNs in encoded order
// joined by ", ", each "KEY=value" with the short keys CN, OU, O, L, S, C, E,
// STREET, T, G, I, SN, DC, SERIALNUMBER (others "OID.<dotted>"), the values
// of a multi-valued RDN joined by " + ". A value with leading or trailing
// blanks, or containing , + = " < > # ; or a line break, is put in double
// quotes with inner quotes doubled. A value that is not a string is "#" and
// the hex of its encoding. UTF-8 out; an empty name gives "".
// False when the bytes are not a Name (last error PLAT_E_ASN1_BAD).
bool nameToString(const uint8_t *encoded, size_t len, std::string *text);

// ---- stores ------------------------------------------------------------

enum Location { CurrentUser, LocalMachine };

enum : unsigned {
    OPEN_EXISTING = 1,  // fail with PLAT_E_NOT_FOUND instead of creating the store
    OPEN_READONLY = 2,  // refuse adding and deleting with PLAT_ERROR_ACCESS_DENIED
                        // (properties of its contexts are still written through)
};

// Opens (by default creating) the system store `name`. Null on failure:
// PLAT_ERROR_INVALID_PARAMETER for an empty name or one with "\" or "/",
// PLAT_E_NOT_FOUND (OPEN_EXISTING, store missing), PLAT_ERROR_ACCESS_DENIED
// when it cannot be created for lack of rights, PLAT_E_WRITE otherwise.
Store *openSystemStore(Location where, const std::string &name, unsigned flags);
void closeStore(Store *store);  // null ignored; contexts outlive their store

// New references to every certificate of the store, in thumbprint order. A
// certificate whose "Blob" does not parse is left out.
std::vector<Context *> certificates(Store *store);

enum AddMode {
    ADD_NEW,               // fail with PLAT_E_EXISTS when present
    ADD_USE_EXISTING,      // keep the one present (counts as success)
    ADD_REPLACE_EXISTING,  // overwrite DER and properties
};
// Adds a certificate from DER; with ADD_REPLACE_EXISTING or a new entry the
// stored properties are those of `props` (may be null: none). `added`, when
// given, receives a new reference to the store's context. False with
// PLAT_E_ASN1_BAD, PLAT_E_EXISTS, PLAT_ERROR_ACCESS_DENIED or PLAT_E_WRITE.
bool addEncoded(Store *store, const uint8_t *der, size_t len, AddMode mode, Context **added);
bool addContext(Store *store, const Context *ctx, AddMode mode, Context **added);

// Deletes the certificate with this thumbprint (40 hex digits, any case).
// False with PLAT_E_NOT_FOUND, PLAT_ERROR_ACCESS_DENIED or PLAT_E_WRITE.
bool removeByThumbprint(Store *store, const std::string &thumbprint);

}  // namespace plat::cert
