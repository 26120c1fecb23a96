// Software cryptographic providers: key containers, hash objects, signing.
//
// Providers are known by name and type. Three standard software providers
// always exist:
//   "Microsoft Base Cryptographic Provider v1.0"             type 1
//   "Microsoft Enhanced Cryptographic Provider v1.0"         type 1
//   "Microsoft Enhanced RSA and AES Cryptographic Provider"  type 24
// and every subkey of LocalMachine
// "SOFTWARE\Microsoft\Cryptography\Defaults\Provider" with a dword value "Type" is a further software provider of that
// type. The three standard providers share one key storage, as they do on
// Windows; every other provider has its own:
//   <userDir>/crypto/<provider folder>/<container>/
//     signature.key  signature.crt   key pair of AT_SIGNATURE (PEM)
//     exchange.key   exchange.crt    key pair of AT_KEYEXCHANGE (PEM)
// Folder names are the names with "/", "%", control characters and a leading
// "." written as %XX. Folders are created 0700, key files 0600.
//
// Hash algorithms per provider: the two type-1 standard providers offer MD5
// and SHA-1; the AES provider adds SHA-256, SHA-384 and SHA-512; every other
// provider offers all of these and SM3. A hash object made on a provider
// whose container holds an SM2 key and that hashes with SM3 starts with
// Z = SM3(ENTL || ID || a || b || xG || yG || xA || yA) for the default user
// ID "1234567812345678", so SM2 signatures verify by the standard rule.
//
// Signatures come out least significant byte first: an RSA signature
// (PKCS#1 v1.5 with DigestInfo) reversed as a whole; an EC signature (SM2 on
// the SM2 curve, ECDSA on other curves) as r || s, each half reversed.
//
// Handles are reference-counted where the name says so; failing functions
// return false or null and set the last error (plat_lasterror.h).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <openssl/evp.h>

namespace plat::cert {
struct Context;
}

namespace plat::crypt {

enum : uint32_t {
    PROV_RSA_FULL = 1,
    PROV_RSA_AES = 24,

    // acquireContext flags
    VERIFY_CONTEXT = 0xF0000000,  // no container: enumeration and hashing only
    NEW_KEYSET = 0x8,             // create the container (PLAT_NTE_EXISTS when present)
    DELETE_KEYSET = 0x10,         // delete the container; no handle comes back
    SILENT = 0x40,                // accepted, nothing is ever asked

    // key specs
    AT_KEYEXCHANGE = 1,
    AT_SIGNATURE = 2,

    // hash algorithm ids
    ALG_MD5 = 0x8003,
    ALG_SHA1 = 0x8004,
    ALG_SHA256 = 0x800C,
    ALG_SHA384 = 0x800D,
    ALG_SHA512 = 0x800E,
    ALG_SM3 = 0x800F,

    // hash parameters
    HP_ALGID = 1,
    HP_HASHVAL = 2,
    HP_HASHSIZE = 4,

    // acquireCertificatePrivateKey flags
    ACQUIRE_CACHE = 0x1,
};

struct Provider;
struct Key;
struct Hash;

extern const char *const BASE_PROVIDER;      // "Microsoft Base Cryptographic Provider v1.0"
extern const char *const ENHANCED_PROVIDER;  // "Microsoft Enhanced Cryptographic Provider v1.0"
extern const char *const AES_PROVIDER;       // "Microsoft Enhanced RSA and AES Cryptographic Provider"

// Provider at `index` (0, 1, ...) in case-insensitive name order. False with
// PLAT_ERROR_NO_MORE_ITEMS past the end, PLAT_NTE_PROV_TYPE_ENTRY_BAD for a
// registered provider without a dword "Type" (the next index goes on).
bool enumProviders(uint32_t index, std::string *name, uint32_t *type);

// Opens `provider` (null or "": the default provider of `type`, the LocalMachine
// value "Name" of "...\Defaults\Provider Types\Type 001" (and so on),
// else Base for type 1 and AES for type 24) with container
// `container` (null or "": the default container, named after the user).
// Errors: PLAT_NTE_KEYSET_NOT_DEF unknown provider or no default for the type,
// PLAT_NTE_PROV_TYPE_ENTRY_BAD, PLAT_NTE_PROV_TYPE_NO_MATCH wrong type,
// PLAT_NTE_BAD_KEYSET no such container, PLAT_NTE_EXISTS (NEW_KEYSET),
// PLAT_ERROR_ACCESS_DENIED the container cannot be read or created for lack
// of rights, PLAT_NTE_BAD_FLAGS unknown flags, PLAT_E_WRITE other I/O.
// DELETE_KEYSET returns true with *out null.
bool acquireContext(Provider **out, const char *container, const char *provider, uint32_t type,
                    uint32_t flags);
Provider *addRef(Provider *prov);
void releaseContext(Provider *prov);  // null ignored

std::string providerName(const Provider *prov);
uint32_t providerType(const Provider *prov);
std::string containerName(const Provider *prov);  // "" for a verify context

// Container names of the provider's key storage in case-insensitive order: a
// snapshot taken when `first` is true, then one name per call. False with
// PLAT_ERROR_NO_MORE_ITEMS at the end, PLAT_ERROR_ACCESS_DENIED / PLAT_E_WRITE
// when the storage cannot be listed.
bool enumContainers(Provider *prov, bool first, std::string *name);

// The container's key of that kind (signature or exchange). PLAT_NTE_NO_KEY when it has none (or the
// handle is a verify context), PLAT_NTE_BAD_DATA when the key file is bad.
bool getUserKey(Provider *prov, uint32_t keySpec, Key **out);
void destroyKey(Key *key);  // null ignored
// The certificate stored with the key (DER). PLAT_NTE_NOT_FOUND when none.
bool keyCertificate(const Key *key, std::vector<uint8_t> *der);
const EVP_PKEY *keyObject(const Key *key);  // borrowed

// Writes a key pair (and its certificate, may be null) into the open
// container, replacing a key of the same kind. PLAT_NTE_BAD_KEYSET for a
// verify context, PLAT_ERROR_ACCESS_DENIED / PLAT_E_WRITE when it cannot be written.
bool storeKeyPair(Provider *prov, uint32_t keySpec, EVP_PKEY *key, const uint8_t *certDer,
                  size_t certLen);

// Hash objects. createHash: PLAT_NTE_BAD_ALGID when the provider lacks the
// algorithm. hashData after the value was read or set: PLAT_NTE_BAD_HASH_STATE.
bool createHash(Provider *prov, uint32_t algId, Hash **out);
bool hashData(Hash *hash, const uint8_t *data, size_t len);
// Reads HP_ALGID / HP_HASHSIZE (4 bytes, little-endian) or HP_HASHVAL (the
// digest; finishes the hash). out null: *len receives the size. A short out:
// PLAT_ERROR_MORE_DATA with *len set to the size.
bool getHashParam(Hash *hash, uint32_t param, uint8_t *out, uint32_t *len);
// HP_HASHVAL only: len must be the hash size (PLAT_NTE_BAD_LEN).
bool setHashParam(Hash *hash, uint32_t param, const uint8_t *data, uint32_t len);
// Signs the hash value with the container's key of `keySpec`. sig null: *len
// receives the size; a short sig: PLAT_ERROR_MORE_DATA. PLAT_NTE_NO_KEY,
// PLAT_NTE_BAD_ALGID (hash not usable with the key), PLAT_NTE_FAIL.
bool signHash(Hash *hash, uint32_t keySpec, uint8_t *sig, uint32_t *len);
void destroyHash(Hash *hash);  // null ignored

// Opens the private key named by the certificate's key-provider information
// and checks that it belongs to the certificate. With ACQUIRE_CACHE the
// handle is kept on the certificate context, shared and released with it
// (*callerFree false); otherwise the caller releases it (*callerFree true).
// PLAT_E_NO_KEY_PROPERTY without the information, PLAT_NTE_BAD_PUBLIC_KEY
// when the key does not match, else the errors of acquireContext / getUserKey.
bool acquireCertificatePrivateKey(cert::Context *ctx, uint32_t flags, Provider **prov,
                                  uint32_t *keySpec, bool *callerFree);

// Name of the default key container (the user's login name).
std::string defaultContainerName();

}  // namespace plat::crypt
