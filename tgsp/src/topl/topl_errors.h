// Result codes of the OpenSSL-based module `topl` (-150xxx to -152xxx).
//
// Functions return 0 or a length on success and one of these (or a code of
// tcore_errors.h: -10002 missing argument, -10003 buffer too small) on
// failure. Codes of lower layers pass upward unchanged.
#pragma once

#define TOPL_ERR_ALLOC              (-10001)   // OpenSSL object could not be created

#define TOPL_ERR_VALIDITY_TIME      (-150004)  // validity time unreadable or output missing
#define TOPL_ERR_KEY_TYPE           (-150007)  // key is not of the required type (RSA / SM2)
#define TOPL_ERR_RSA_SIG_LEN        (-150044)  // signature length differs from the modulus size
#define TOPL_ERR_ALG                (-150050)  // algorithm / digest / NID not supported
#define TOPL_ERR_KEY_UNSUPPORTED    (-150052)  // public-key type neither RSA nor EC
#define TOPL_ERR_SHA1               (-150061)  // one-shot SHA-1 failed
#define TOPL_ERR_SHA256             (-150062)  // one-shot SHA-256 failed
#define TOPL_ERR_MD5                (-150063)  // one-shot MD5 failed
#define TOPL_ERR_DIGEST_MISMATCH    (-150064)  // digest length or algorithm differs from the expected one
#define TOPL_ERR_SHA384             (-150068)  // one-shot SHA-384 failed
#define TOPL_ERR_SHA512             (-150069)  // one-shot SHA-512 failed
#define TOPL_ERR_KEYUSAGE           (-150102)  // no readable keyUsage extension
#define TOPL_ERR_NO_PUBKEY          (-150203)  // no public key for the certificate
#define TOPL_ERR_RSA_BAD_SIG        (-150302)  // RSA signature does not match
#define TOPL_ERR_RSA_DECRYPT        (-150303)  // RSA public decryption failed

#define TOPL_ERR_SM2_CURVE_TEXT     (-150401)  // curve parameter text not parsable
#define TOPL_ERR_SM2_BN             (-150402)  // big-number failure, or p not prime
#define TOPL_ERR_SM2_EC             (-150403)  // EC failure; public key not decodable
#define TOPL_ERR_SM2_KEYCHECK       (-150405)  // key pair check failed
#define TOPL_ERR_SM2_POINT          (-150406)  // public point not readable for Z
#define TOPL_ERR_SM2_SIG_DER        (-150409)  // signature not decodable as DER
#define TOPL_ERR_SM2_SIG_RANGE      (-150410)  // r or s out of range, or r + s = 0 mod n
#define TOPL_ERR_SM2_VERIFY         (-150412)  // signature does not verify
#define TOPL_ERR_SM2_SIG_SHORT      (-150414)  // raw signature shorter than 64 bytes

#define TOPL_ERR_EVP_KID            (-152401)  // kid has no digest in the digest table
#define TOPL_ERR_EVP_NID            (-152402)  // OpenSSL knows no digest for the NID
#define TOPL_ERR_EVP_INIT           (-152404)  // EVP_DigestInit failed
#define TOPL_ERR_EVP_UPDATE         (-152405)  // EVP_DigestUpdate failed
#define TOPL_ERR_EVP_FINAL          (-152406)  // EVP_DigestFinal failed
#define TOPL_ERR_EVP_OUT_SMALL      (-152407)  // output smaller than the digest

#define TOPL_ERR_P8_GET0            (-152701)  // PKCS#8 key info unreadable
#define TOPL_ERR_P8_PARAM           (-152702)  // algorithm parameter is not an OID
#define TOPL_ERR_P8_NOT_SM2         (-152703)  // not an EC key on the SM2 curve
#define TOPL_ERR_P8_KEY             (-152704)  // private-key octets not readable as an SM2 key
#define TOPL_ERR_P8_OID_TEXT        (-152730)  // OID could not be turned into text
