// PKCS#7 SignedData encoder of the library's own DER toolkit.
//
// Wraps a signature value that a key store produced (RSA: PKCS#1; SM2: DER
// SEQUENCE { r, s } or 64 octets r || s), the signer certificate and, for the
// attached form, the content into one ContentInfo:
//   SEQUENCE { signedData, [0] SignedData { 1, SET { digestAlg },
//              SEQUENCE { data [, [0] OCTET STRING content] },
//              [0] { certificate }, SET { SignerInfo } } }
// The detached form keeps the [0] with an empty OCTET STRING (A0 02 04 00).
// For an SM2 certificate the digest is always SM3 (110) and the signature
// algorithm 1.2.156.10197.1.301.1 (211), whatever digest id the caller gives;
// the content types stay the PKCS#7 ones.
//
// The certificate is text: DER (first octet 0x30), base64 (first character
// "M") or PEM (NUL-terminated). It must carry an RSA key (rsaEncryption with
// a NULL parameter) or an EC key on the SM2 curve.
//
// Return: the DER length, with *out a new buffer of exactly that length that
// the caller frees with free(). On failure a negative code and *out untouched:
//   -10002   a missing argument or a length <= 0
//   -210021  no AlgorithmIdentifier for the digest id (e.g. 108), or the
//            SignerInfo cannot be built (logged)
//   -2100xx  certificate conversion and classification codes of tasn1_cert
//            (-210011 unreadable certificate or an unsupported key)
#pragma once

int tasn1_p7sign_encode_attach(int digestKid, const unsigned char *content, int ncontent,
                               const char *cert, int ncert,
                               const unsigned char *sig, int nsig, unsigned char **out);

int tasn1_p7sign_encode_detach(int digestKid, const char *cert, int ncert,
                               const unsigned char *sig, int nsig, unsigned char **out);
