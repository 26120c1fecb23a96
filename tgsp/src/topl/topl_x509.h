// X.509 certificate helpers: loading certificate text, classification,
// validity (as local time, checked with a tolerance), key usage,
// signature verification with a certificate's key, and the key-store record.
//
// Certificates are OpenSSL X509 objects owned by whoever loaded them
// (X509_free).
#pragma once
#include <openssl/asn1.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdint>
#include <ctime>

// A key and its certificate. The record owns everything it points to.
struct topl_keystore {
    EVP_PKEY *pKey;        // private key (server credential) or a public key made on demand
    X509 *pCert;           // certificate
    unsigned char *pData;  // spare heap buffer (free()), unused by this system
    int nData;
    unsigned char *pExtra; // spare heap buffer (free()), unused by this system
};

// New zero-filled record (never null).
topl_keystore *topl_keystore_new(void);
// Frees the key, the certificate and both buffers and zeroes those members.
void topl_keystore_clear(topl_keystore *ks);
// Clears the record and frees it. Null is ignored.
void topl_keystore_free(topl_keystore *ks);

// An SM2 user ID for verification (null record: the default ID).
struct topl_sm2_userid {
    const unsigned char *id;
    int idlen;
};

// Certificate text -> new X509 (prepared with topl_x509cert_init), or null.
// The first character chooses: "M" base64 of DER, 0x30 DER, else PEM.
// Lengths below 2 give null. Only a base64 failure is logged.
X509 *topl_x509cert_load(const char *text, int length);

// Primes the certificate's cached SHA-1 thumbprint and stores a 32-bit hash
// of it (h = h * 31 + octet) in the object's application data (slot 0).
// 0; -10002 for a null certificate (logged).
int topl_x509cert_init(X509 *pX509);

// 1 when the public-key algorithm is rsaEncryption (NID 6), else 0.
int topl_x509cert_isRsa(const X509 *cert);
// (topl_x509cert_isSm2 is declared in topl_sm2.h.)

// notBefore / notAfter as broken-down LOCAL time. 0; -10002 missing
// certificate or validity; -150004 unreadable time or missing output; -1
// conversion to local time failed.
int topl_x509cert_getValidity(const X509 *cert, struct tm *notBefore, struct tm *notAfter);

// 1 when notBefore <= now + tolerance and now - tolerance <= notAfter
// (tolerance in seconds), else 0 (also for any failure).
int topl_x509cert_checkValidity(const X509 *cert, int64_t tolerance);

// Copies the keyUsage bits (1 or 2 octets) to out (room for 2). Returns the
// number of octets; -10002 missing argument; -150102 no readable keyUsage
// extension; -10003 more than 2 octets of bits.
int topl_x509cert_getKeyUsage(const X509 *cert, unsigned char *out);

// Verifies a signature over data with the certificate's public key: RSA
// (PKCS#1 v1.5; kid is the digest-id pointer of topl_rsa_verify) or SM2
// (DER or raw; user ID from `id`, none: the default ID).
// 0 when good; -150203 no public key (neither RSA nor SM2, or not readable);
// -150052 unsupported key type; otherwise the verification's code.
int topl_x509cert_verify(const X509 *cert, const topl_sm2_userid *id, int *kid, const unsigned char *data, int ndata,
                         const unsigned char *sig, int nsig);

// ASN.1 UTCTime / GeneralizedTime -> broken-down UTC time (day of year and
// daylight flag 0). Two-digit years below 50 are 20yy. Seconds are
// optional; the time must end in "Z" or an offset +hhmm / -hhmm, which is
// applied to give UTC. 0; -1 missing argument, fewer than 11 characters,
// other types, or a malformed end.
int topl_asn1time_toTm(const ASN1_TIME *t, struct tm *out);
