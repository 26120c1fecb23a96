// Digest names and digests of data and files.
//
// Digest ids: 101 MD5, 102 SHA-1, 103 SHA-256, 104 SHA-512, 105 SHA-384,
// 110 SM3. SM3 is computed by the library's own implementation; every other
// id goes through a cryptographic provider (twcyt_digest).
//
// Results: a length (or id) on success, a negative code otherwise. Failures
// are logged through the engine log.
#pragma once

#define ZEB_ACX_HASH_OUT_SIZE 1024  // size of every digest out buffer

#define ZEB_ACX_ERR_ARG          (-1001)  // missing or empty argument
#define ZEB_ACX_ERR_B64_ENCODE   (-1010)  // base64 encoding of the digest failed
#define ZEB_ACX_ERR_FILE_READ    (-1013)  // the file cannot be read, or is empty
#define ZEB_ACX_ERR_DIGEST_CSP   (-2009)  // no provider can be opened for the digest
#define ZEB_ACX_ERR_CREATE_HASH  (-2010)  // the provider cannot create the hash object
#define ZEB_ACX_ERR_HASH_DATA    (-2011)  // the provider cannot hash (any other digest failure)
#define ZEB_ACX_ERR_HASH_VALUE   (-2012)  // the provider cannot deliver the digest value
#define ZEB_ACX_ERR_DIGEST_NAME  (-2035)  // unrecognised digest name

// Id of a digest name, compared without regard to letter case, in the order
// MD5, SHA1, SHA256, SHA512, SHA384, SM3 ("SHA-256" is not a name).
// Returns the id; -1001 for a null or empty name; -2035 for any other name.
int zeb_acx_setSignHashAlg(const char *name);

// Digest of data[0..len) with digest id `kid`, written as base64 into
// `hashData` (ZEB_ACX_HASH_OUT_SIZE bytes, zero-filled first, terminated).
// A len of 0 or less hashes the empty message with kid 110, and data up to
// its first NUL with the other ids.
// Returns the base64 length; -1001 null data or hashData; -2009, -2010,
// -2011, -2012 provider failures (-2011 also for an unknown id); -1010
// encoding failure.
int zeb_acx_hash(const unsigned char *data, int len, int kid, char *hashData);

// Digest of the whole file `path` (UTF-8). With b64 not 0: the base64 text
// in out (ZEB_ACX_HASH_OUT_SIZE bytes, terminated), returns its length.
// With b64 0: out is zeroed over ZEB_ACX_HASH_OUT_SIZE bytes and receives
// the raw digest; returns the digest's length in bytes.
// -1001 null path or out; -1013 missing, unreadable or empty file (also a
// folder); the digest codes of zeb_acx_hash.
int zeb_acx_hash_file(const char *path, unsigned char *out, int kid, int b64);
