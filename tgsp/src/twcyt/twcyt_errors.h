// Result codes of the certificate-store module `twcyt` (-260xxx).
//
// Functions also return the general codes of tcore_errors.h: -10002 for a
// missing or empty argument, -10003 for an output buffer that is too small.
#pragma once

#define TWCYT_ERR_CREATE_HASH      (-260003)  // hash object cannot be created
#define TWCYT_ERR_HASH_DATA        (-260004)  // data cannot be hashed
#define TWCYT_ERR_GET_HASH_PARAM   (-260005)  // hash size or value cannot be read
#define TWCYT_ERR_SET_HASH_PARAM   (-260006)  // digest cannot be set as hash value
#define TWCYT_ERR_DIGEST_LEN       (-260007)  // digest length is not the algorithm's size
#define TWCYT_ERR_CSP_OPEN         (-260016)  // provider (or its key container) cannot be opened
#define TWCYT_ERR_CONTAINER_ENUM   (-260017)  // key-container enumeration failed
#define TWCYT_ERR_CONTAINER_NO_KEY (-260018)  // key container holds no key
#define TWCYT_ERR_SN_NO_INFO       (-260021)  // certificate without info block (serial)
#define TWCYT_ERR_DN_NO_INFO       (-260022)  // certificate without info block (names)
#define TWCYT_ERR_TIME             (-260023)  // validity time cannot be converted
#define TWCYT_ERR_KEY_ALG          (-260026)  // key algorithm neither RSA nor SM2
#define TWCYT_ERR_USER_PROP_FULL   (-260027)  // no user property id left
#define TWCYT_ERR_SET_PROP         (-260028)  // certificate property cannot be set
#define TWCYT_ERR_GET_PROP         (-260029)  // certificate property cannot be read
#define TWCYT_ERR_EMPTY_NAME       (-260031)  // the name is empty
#define TWCYT_ERR_NOT_YET_VALID    (-260034)  // now is before notBefore
#define TWCYT_ERR_EXPIRED          (-260035)  // now is after notAfter
#define TWCYT_ERR_DIGEST_CSP       (-260042)  // no provider can be opened for hashing
#define TWCYT_ERR_NO_PRIVATE_KEY   (-260043)  // certificate's private key cannot be acquired
#define TWCYT_ERR_PROV_NAME        (-260045)  // provider name cannot be read
#define TWCYT_ERR_NO_KEY_BOUND     (-260101)  // signing context without certificate key
#define TWCYT_ERR_SIGN             (-260102)  // the provider refused to sign (or > 256 bytes)
