// Between the certificate contexts and the providers of plat_crypt: the
// provider handle a context caches for its private key. Not for other users.
#pragma once

namespace plat::cert {

struct Context;

// Remembers `handle` as the context's cached key handle; every handle ever
// cached is passed to releaseFn when the context's last reference goes.
void cacheHandle(Context *ctx, void *handle, void (*releaseFn)(void *));
// The current cached handle, or null.
void *cachedHandle(const Context *ctx);
// Forgets the current handle for new acquisitions (it stays alive until the
// context goes, since a caller may still borrow it).
void retireCachedHandle(Context *ctx);

}  // namespace plat::cert
