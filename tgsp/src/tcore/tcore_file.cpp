#include "tcore/tcore_file.h"

#include "tcore/tcore_codepage.h"
#include "tcore/tcore_errors.h"
#include "tcore/tcore_mem.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

int tcore_file_load(const char *path, unsigned char **result) {
    if (!path || !result) return TCORE_ERR_ARG;
    *result = nullptr;
    struct stat st;
    if (stat(path, &st) != 0) return -1;
    // Opening a FIFO or a device could block forever: only regular files,
    // and never wait in open (the flag does not change reads of a file).
    if (!S_ISREG(st.st_mode)) return TCORE_ERR_FILE_OPEN;
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return TCORE_ERR_FILE_OPEN;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return TCORE_ERR_FILE_OPEN;
    }
    if (st.st_size == 0) {
        close(fd);
        return 0;
    }
    if (st.st_size >= INT_MAX) {
        close(fd);
        return TCORE_ERR_FILE_READ;
    }
    size_t size = static_cast<size_t>(st.st_size);
    auto *buf = static_cast<unsigned char *>(tcore_zalloc(size + 1));
    size_t got = 0;
    while (got < size) {
        ssize_t n = read(fd, buf + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    if (got < size) {
        free(buf);
        return TCORE_ERR_FILE_READ;
    }
    *result = buf;
    return static_cast<int>(size);
}

static thread_local std::string t_loadError;

void *tcore_loadLibrary(const char *path) {
    t_loadError.clear();
    if (!path || !*path) return nullptr;
    // The path must be valid text, as the wide-character loader requires.
    char16_t *wide = nullptr;
    if (tcore_ansiToWide(path, &wide) < 0) {
        t_loadError = std::string(path) + ": not a valid path";
        return nullptr;
    }
    free(wide);
    void *h = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        const char *e = dlerror();
        t_loadError = e ? e : (std::string(path) + ": cannot be loaded");
    }
    return h;
}

void *tcore_getProcAddress(void *module, const char *name) {
    if (!module || !name) return nullptr;
    return dlsym(module, name);
}

void tcore_freeLibrary(void *module) {
    if (module) dlclose(module);
}

const char *tcore_loadLibrary_error(void) { return t_loadError.c_str(); }
