// Certificates of the system certificate stores and of key containers.
//
// Everything works on certificate contexts (twcyt_certctx, the software
// store's reference-counted certificate object, platform/plat_certstore.h).
// Every function that hands back a certificate, alone or in a list, hands
// back its own reference: release it with twcyt_cert_free (lists: their
// item-free function, twcyt_cert_freeItem, does it).
//
// Results are a length, count or 0 on success and a negative code otherwise:
// -10002 (TCORE_ERR_ARG) a missing argument, -10003 (TCORE_ERR_BUFFER_SMALL)
// a short output buffer, -260xxx (twcyt_errors.h) as listed per function.
// Failing store and provider calls are logged through tcore_log_winError
// with the name of the call (the stand-in's last error is in errno).
//
// Not thread-safe: the store list is process-wide (server thread only).
#pragma once
#include "plat_certstore.h"
#include "tcore/tcore_list.h"
#include "tcore/tcore_strlist.h"
#include "twcyt/twcyt_errors.h"

typedef plat::cert::Context twcyt_certctx;

// Encoding types of the name and comparison calls (accepted and ignored:
// there is only one encoding).
#define TWCYT_X509_ASN_ENCODING   0x00000001u
#define TWCYT_PKCS_7_ASN_ENCODING 0x00010000u

#define TWCYT_KID_RSA 201
#define TWCYT_KID_SM2 210

// ---- references --------------------------------------------------------

// One more reference to cert (null stays null).
twcyt_certctx *twcyt_cert_dup(twcyt_certctx *cert);
// Gives back one reference; null is ignored.
void twcyt_cert_free(twcyt_certctx *cert);
// twcyt_cert_free for a tcore_list item.
void twcyt_cert_freeItem(void *cert);

// ---- loading and attributes --------------------------------------------

// Certificate from `text` of `len` bytes: DER (first byte 0x30), base64 of
// the DER (first byte "M") or PEM. New context, or null for null text,
// len < 1, text that does not convert, or DER that is not one certificate
// (logged "CertCreateCertificateContext").
twcyt_certctx *twcyt_cert_load(int len, const char *text);

// Serial number bytes, least significant first, into out (cleared over
// outSize first). Returns the byte count; -10002 null cert or out, outSize
// < 1; -10003 when the serial has more bytes than outSize (nothing copied).
int twcyt_cert_getSnData(twcyt_certctx *cert, unsigned char *out, int outSize);

// X.500 text (UTF-8) of an encoded name: "C=CN, O=Org, CN=Alice" (RDNs in
// encoded order, ", " between them, " + " inside a multi-valued RDN, values
// with , + = " < > # ; line breaks or outer blanks in double quotes).
// Returns text length + 1; -10002 null name or nameLen < 1; -260031 empty
// name (also bytes that are not a name: the text is empty then); -10003 out
// given and outSize not above the text length. With out, out is cleared over
// outSize first.
int twcyt_cert_nameToStr(unsigned int encType, const unsigned char *name, int nameLen, char *out,
                         int outSize);
// Subject / issuer as twcyt_cert_nameToStr (issuer: out of 512 bytes).
int twcyt_cert_getDn(twcyt_certctx *cert, int outSize, char *out);
int twcyt_cert_getIssuerDn(twcyt_certctx *cert, char *out);

// First value of attribute `key` ("CN") in the subject DN, copied into out
// (256 bytes, may be null; cleared first). Returns its length; 0 when there
// is no such attribute; -10002 missing argument, also for a value of 256
// bytes or more (it would not fit with its terminator); codes of getDn.
int twcyt_cert_getRdn(const char *key, twcyt_certctx *cert, char *out);
// Every value of attribute `key` in the subject DN, appended to *result
// (created on the first value when null). Returns the count; -10002;
// -260022; codes of getDn.
int twcyt_cert_getRdnValues(twcyt_certctx *cert, tcore_strlist **result, const char *key);
// 1 when some value of subject attribute `key` contains `text`
// (case-sensitive); else 0, also for missing arguments.
int twcyt_cert_rdnContains(const char *key, twcyt_certctx *cert, const char *text);

// DN texts. A DN is cut into items "KEY=value" at every "," and every "+"
// that stands outside double quotes and is followed (after blanks) by an
// attribute key (letters, digits, ".", "-", "_") and "=". So a value may
// hold "," or "=" (as in "CN=a,b, O=x" or "CN=a=b"), a quoted value may hold
// anything, and each attribute of a multi-valued RDN is an item of its own.
// Blanks around items are dropped.
//
// Values of attribute `key` (exact, case-sensitive), appended to *result
// (created on the first value when null); a quoted value loses its quotes
// and "" becomes ". Returns the count; -10002 empty DN or key, null result.
int twcyt_dn_getValues(const char *dn, const char *key, tcore_strlist **result);
// Every item, as written (key, "=" and value), appended to *result (created
// when null). Returns the count; -10002 empty DN or null result.
int twcyt_dn_split(const char *dn, tcore_strlist **result);
// 0 when both UTF-8 DNs have the same items in any order, -1 when not;
// -10002 for an empty text.
int twcyt_dn_equal(const char *dn1, const char *dn2);
// twcyt_dn_equal after converting both ANSI texts to UTF-8; conversion codes.
int twcyt_dn_compare(const char *dn1, const char *dn2);

// notBefore / notAfter (UTC) as 14 digits YYYYMMDDhhmmss; each out (64
// bytes, may be null) is cleared over 63 bytes and gets at most 61
// characters. 0; -10002 null cert; -260023 a time cannot be converted.
int twcyt_cert_getValidity(twcyt_certctx *cert, char *notBefore, char *notAfter);
// 0 within the validity period; -260034 not yet valid; -260035 expired; -10002.
int twcyt_cert_checkValidity(twcyt_certctx *cert);

// Key algorithm from the subject key's OID: 201 RSA; 210 SM2 (every
// elliptic-curve key counts as SM2); -260026 other (-10002 null cert).
int twcyt_cert_keyAlg(twcyt_certctx *cert);
int twcyt_cert_isRsa(twcyt_certctx *cert);  // 1 or 0 (null: 0)
int twcyt_cert_isSm2(twcyt_certctx *cert);  // 1 or 0 (null: 0)
// Signing: no keyUsage extension, or digitalSignature / nonRepudiation.
// Encryption: no keyUsage extension, or dataEncipherment. 1 or 0 (null: 0).
int twcyt_cert_canSign(twcyt_certctx *cert);
int twcyt_cert_canEncrypt(twcyt_certctx *cert);

// Base64 of the DER (no line breaks) into out (4096 bytes, may be null);
// returns its length, with null out the length needed; -10002 null cert;
// -10003 more than 4095 characters.
int twcyt_cert_toBase64(char *out, twcyt_certctx *cert);

// ---- user properties (ids 0x8000 + n) ------------------------------------

// Number of consecutive user properties from id 0x8000 (0 for none or null).
int twcyt_cert_userPropCount(twcyt_certctx *cert);
// Adds user property n (= current count) with the bytes given. Returns the
// new count; -10002; -260027 past id 0xFFFF; -260028 cannot be set.
int twcyt_cert_addUserProp(twcyt_certctx *cert, const unsigned char *value, int len);
// Reads user property n into out (256 bytes, may be null; cleared first).
// Returns its length (with null out: the length); -10002; -10003 over 256
// bytes (with out); -260029 cannot be read.
int twcyt_cert_getUserProp(twcyt_certctx *cert, int n, char *out);

// ---- the private key's provider -----------------------------------------

// Name of the provider holding the certificate's private key, into out (256
// bytes, cleared first). Returns its length; -10002; -260043 key cannot be
// acquired; -260045 name cannot be read (or has 256 bytes or more).
int twcyt_cert_getProviderName(twcyt_certctx *cert, char *out);
// 1 when the provider name (user property 0 for an SM2 certificate with two
// user properties, else twcyt_cert_getProviderName) contains "Microsoft".
int twcyt_cert_isMicrosoftProvider(twcyt_certctx *cert);
// Moves the certificate's key-provider information to "Microsoft Enhanced
// RSA and AES Cryptographic Provider" (type 24), keeping container, flags
// and key kind (signature or exchange); a certificate of a store keeps the change. 0 (also when it
// already names that provider); -10002; -260029; -260028; codes of
// twcyt_cert_getProviderName.
int twcyt_cert_setProvider(twcyt_certctx *pcert);

// The first item of `list` that is `cert` itself or has the same issuer and
// serial number; null when none (or null arguments). Borrowed.
twcyt_certctx *twcyt_certlist_find(tcore_list *list, twcyt_certctx *cert);

// ---- finding certificates -------------------------------------------------
//
// Each appends new references to *retCerts, a tcore_list created (with
// twcyt_cert_freeItem) on the first find when null; the caller frees it.
// keyAlg 0 or less: any key; 201 / 210: only that algorithm.

// Sets the store list to "MY:CORVINA". 0.
int twcyt_certstore_resetNames(void);
// The current store list (":"-separated; "MY" until the first reset).
const char *twcyt_certstore_names(void);
// Signing certificates of the current user's store `strStoreName`. Returns
// the number appended; 0 when the store cannot be opened (logged); -10002
// null retCerts or empty name.
int twcyt_certstore_findBySysStore(const char *strStoreName, int keyAlg, tcore_list **retCerts);
// Every store of the list in order (or "MY" when the list is empty).
// Returns the total appended.
int twcyt_certstore_findAll(int keyAlg, tcore_list **retCerts);

// Signing certificates in the key containers of every provider whose name
// contains one of the ":"-separated patterns and not "Microsoft ". Returns
// the total; -10002 empty pattern text or null retCerts.
int twcyt_keycontainer_fuzzyFind(const char *patterns, int keyAlg, tcore_list **retCerts);
// Certificates in the containers of provider `cspName` (type 1); usage 0 any,
// 1 signing, 2 encryption (others: none). Each gets user property 0 = the
// provider name and 1 = the container name (with terminators). Returns the
// number appended; -10002; -260016 provider cannot be opened; -260017
// enumeration failed.
int twcyt_keycontainer_findCerts(const char *cspName, int keyAlg, int usage, tcore_list **retCerts);
