// Verification of raw and PKCS#7 signatures, and what can be read from a
// certificate or a PKCS#7 SignedData message without any private key.
//
// Certificate texts are DER, base64 of the DER (first character "M") or
// PEM. PKCS#7 messages are DER or base64 (first character "M"); the
// functions that take no length read them as NUL-terminated text.
//
// A signer certificate passes when it is valid now within a tolerance of
// 300 seconds on either side and its keyUsage extension allows
// digitalSignature or nonRepudiation (a certificate without keyUsage does
// not pass). The signature is checked before the certificate, so a bad
// signature reports its own code even for an expired certificate.
//
// Results: 0, a length or a count on success; a negative code otherwise.
// Nothing is kept between calls; failures are logged through the engine log.
#pragma once

#define ZEB_ACX_VERIFY_TOLERANCE 300  // seconds around the validity period

#define ZEB_ACX_SN_OUT_SIZE      256   // hexadecimal serial out buffer
#define ZEB_ACX_DN_OUT_SIZE      1024  // subject DN out buffer
#define ZEB_ACX_RDN_OUT_SIZE     256   // RDN value out buffer
#define ZEB_ACX_CERTDATA_SIZE    4096  // signer certificate out buffer

#define ZEB_ACX_ERR_CERT_LOAD     (-1016)  // the certificate text cannot be loaded
#define ZEB_ACX_ERR_SN_HEX        (-1031)  // the serial does not fit the out buffer
#define ZEB_ACX_ERR_P7_CONTENT    (-2003)  // the PKCS#7 content cannot be extracted
#define ZEB_ACX_ERR_P7_SIGNCERT   (-2004)  // the PKCS#7 signer certificate cannot be extracted
#define ZEB_ACX_ERR_RDN           (-2008)  // no such RDN, or it cannot be read
#define ZEB_ACX_ERR_SUBJECT_DN    (-2031)  // the subject DN cannot be read
#define ZEB_ACX_ERR_SN_READ       (-2032)  // the serial number cannot be read
#define ZEB_ACX_ERR_CERT_VALIDITY (-3612)  // outside the validity period (with tolerance)
#define ZEB_ACX_ERR_CERT_USAGE    (-3613)  // keyUsage allows no signing
#define ZEB_ACX_ERR_NO_CERT       (-3614)  // no certificate: text does not load / no signer certificate

// Raw signature check: sig[0..nsig) over data[0..ndata) with the public key
// of the certificate text cert[0..ncert). RSA PKCS#1 v1.5 (the digest named
// in the signature's DigestInfo) or SM2 (DER or 64-octet r || s, over SM3
// with the default user ID).
// Returns 0 when signature and certificate pass; -1001 null data or
// signature; -3614 certificate does not load; the code of the signature
// check (X.509, RSA, SM2 modules); -3612; -3613.
int zeb_acx_verify(const char *cert, int ncert, const unsigned char *data, int ndata,
                   const unsigned char *sig, int nsig);

// PKCS#7 SignedData that carries its content. When content is given (not
// null, ncontent > 0) it must equal the message's content.
// Returns 0; -1001 null or empty message; -3614 no signer certificate; the
// codes of the PKCS#7 verification (-151203 when the message carries no
// content, -151202 other content, parse and signature codes); -3612; -3613.
int zeb_acx_p7verify(const char *p7, int np7, const unsigned char *content, int ncontent);

// Detached PKCS#7 SignedData: the signature is checked over the caller's
// content. Codes as zeb_acx_p7verify; -151203 when the message carries
// content itself or no content is given.
int zeb_acx_p7verifyDetached(const char *p7, int np7, const unsigned char *content, int ncontent);

// Serial number as upper-case hexadecimal, most significant byte first
// (the DER integer's octets: a serial 0x05 gives "05"), into out
// (ZEB_ACX_SN_OUT_SIZE bytes, terminated).
// Returns the text length; -1001 null or empty argument; -1016; -2032;
// -1031.
int zeb_acx_cert_getHexSn(const char *cert, char *out);

// Subject DN as UTF-8 X.500 text ("C=CN, O=Org, CN=Alice") into out
// (ZEB_ACX_DN_OUT_SIZE bytes, terminated).
// Returns the text length plus 1; -1001; -1016; -2031 (also a DN that does
// not fit).
int zeb_acx_cert_getSubjectDn(const char *cert, char *out);

// First value of the subject attribute `key` ("CN", "O", ...) into out
// (ZEB_ACX_RDN_OUT_SIZE bytes, terminated).
// Returns its length; -1001; -1016; -2008 (no such attribute, or a value of
// 256 bytes or more).
int zeb_acx_cert_getSubjectRdn(const char *cert, const char *key, char *out);

// Content of a PKCS#7 message. With out null (or outSize <= 0) only the
// length is returned; otherwise out is zero-filled over outSize bytes and
// receives the content (not terminated).
// Returns the content length, 0 when the message carries none; -1001 null
// or empty message; -2003 the message does not parse or the content does
// not fit.
int zeb_acx_p7_getOriData(const char *p7, unsigned char *out, int outSize);
// zeb_acx_p7_getOriData(p7, null, 0).
int zeb_acx_p7_getOriDataLen(const char *p7);

// Signer certificate of a PKCS#7 message as base64 text into certData
// (ZEB_ACX_CERTDATA_SIZE bytes, zero-filled first, terminated: at most 4095
// characters).
// Returns the text length; -1001 null or empty argument; -2004 the message
// does not parse, carries no signer certificate, or the text does not fit.
int zeb_acx_p7_getCertData(const char *p7, char *certData);
