// PKCS#7 SignedData with OpenSSL: the OpenSSL-based encoder, the parser,
// the extractors of content and signer certificate, and verification.
//
// Every read of a message is bounded by the length the caller gives; the
// parser never builds a tree: topl_p7_info points into the caller's octets.
#pragma once
#include <openssl/x509.h>

// Error codes of the PKCS#7 code (other codes of the ASN.1, SM2, RSA, X.509
// and digest modules pass through unchanged).
#define TOPL_ERR_P7_ATTR_READ       (-150048)  // a signed attribute cannot be read
#define TOPL_ERR_P7_ATTR_ENCODE     (-150049)  // a signed attribute cannot be re-encoded
#define TOPL_ERR_P7_MALFORMED       (-151101)  // malformed SignedData
#define TOPL_ERR_P7_NEW             (-151102)  // an OpenSSL object cannot be created
#define TOPL_ERR_P7_ENCODE          (-151103)  // any other failure of the OpenSSL-based encoder
#define TOPL_ERR_P7_CONTENT_DIFFERS (-151202)  // caller's content differs from the message's
#define TOPL_ERR_P7_CONTENT_MODE    (-151203)  // content presence does not fit the mode
#define TOPL_ERR_P7_NO_SIGNCERT     (-151303)  // no usable signer certificate
#define TOPL_ERR_P7_ATTRS_EMPTY     (-151314)  // signed attributes present but empty
#define TOPL_ERR_P7_MD_LENGTH       (-151316)  // messageDigest of another length
#define TOPL_ERR_P7_MD_DIFFERS      (-151317)  // messageDigest with other octets
#define TOPL_ERR_P7_MD_MISSING      (-151318)  // no messageDigest attribute

#define TOPL_P7_MAX_CERTS 256  // certificates examined per message

// Parse result. Every pointer points into the DER given to topl_p7_parse.
struct topl_p7_info {
    const unsigned char *content;    // absent: null, ncontent 0
    int ncontent;
    const unsigned char *sign;       // encryptedDigest octets
    int nsign;
    const unsigned char *signCert;   // signer certificate DER; absent: null, 0
    int nsignCert;
    const unsigned char *certs[TOPL_P7_MAX_CERTS];  // the other certificates
    int ncertsLen[TOPL_P7_MAX_CERTS];
    int ncerts;
    int digestKid;                   // from the SignerInfo's digestAlgorithm
    int signKid;                     // from its digestEncryptionAlgorithm
    const unsigned char *signedAttrs;  // complete [0] TLV (A0 ...); absent: null, 0
    int nsignedAttrs;
};

// OpenSSL-based encoder: ContentInfo { signedData, [0] SignedData } with one
// signer. RSA certificates get the digest OID of digestKid (101, 103, 104,
// 105; any other id gives SHA-1) and the PKCS#7 content types; SM2 (any EC
// key) gets SM3 and the content types 1.2.156.10197.6.1.4.2.1 / .2.2.
// Content null or ncontent <= 0 writes the detached form (contentInfo holds
// only the data OID). Issuer, serial and certificate are re-encoded by OpenSSL.
// Return: DER length, *out a new buffer (free()) of that length;
//   -10002 missing cert or sig or nsig <= 0; -150052 neither RSA nor EC key;
//   -151102 an OpenSSL object cannot be created; -151103 any other failure.
int topl_p7sign_encode(const unsigned char *sig, int nsig, X509 *cert,
                       const unsigned char *content, int ncontent, int digestKid,
                       unsigned char **out);

// Parses DER SignedData into *info (zeroed first).
// Return 0; -10002 missing argument or len <= 0; -10004 base64 text (first
// character "M"); -151101 malformed; -150050 digest or signature OID unknown;
// -151314 empty signed attributes.
int topl_p7_parse(const unsigned char *der, int len, topl_p7_info *info);

// Content of a message given as DER or base64 (first character "M").
// With out null or room <= 0: just the length. Otherwise the whole room is
// zeroed and the content copied (not terminated).
// Return the content length (0: no content); -10003 room too small;
// parse and base64 codes.
int topl_p7sign_parseData(const unsigned char *p7, int len, unsigned char *out, int room);

// Signer certificate as base64 text ((n + 2) / 3 * 4 characters for n DER
// octets). Output handling as topl_p7sign_parseData.
// Return the text length (0: no signer certificate); -10003; parse codes.
int topl_p7sign_parseSignCert(const unsigned char *p7, int len, char *out, int room);

// Signer certificate as a new X509 (caller frees), or null.
X509 *topl_p7sign_getSignCert(const unsigned char *p7, int len);

// Verification modes.
#define TOPL_P7_VERIFY_ATTACHED 1  // the message must carry its content
#define TOPL_P7_VERIFY_DETACHED 2  // it must not; the caller gives the content
// Any other mode value accepts both.

// Verifies the first signer's signature with the signer certificate carried
// in the message, with or without signed attributes. The message is DER or
// base64; content may be null. Nothing of the caller's is changed.
// Return 0 when the signature is good; -10002; -151203 content presence does
// not fit the mode (or no content anywhere); -151202 the caller's content
// differs from the message's; -151303 no usable signer certificate;
// -150048, -150049, -151316, -151317, -151318 (signed attributes); parse,
// digest, SM2, RSA and X.509 codes.
int topl_p7sign_verify(const unsigned char *p7, int len,
                       const unsigned char *content, int ncontent, int mode);
