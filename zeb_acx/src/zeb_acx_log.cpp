#include "zeb_acx_log.h"

#include "tcore/tcore_log.h"
#include "tcore/tcore_mem.h"
#include "tcore/tcore_wreg.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace {

// The current log. Changed by init and close, read by every line; the lock
// only keeps a line from writing through an object another thread frees.
// Recursive: a line may come back here through the library's sink.
tcore_logfile *g_log = nullptr;
std::recursive_mutex g_lock;

void replaceLog(tcore_logfile *log) {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    tcore_logfile_free(g_log);
    g_log = log;
}

void writeLine(int level, const char *fmt, va_list ap) {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (!g_log) return;
    va_list measure;
    va_copy(measure, ap);
    int n = vsnprintf(nullptr, 0, fmt, measure);
    va_end(measure);
    if (n < 0) return;
    size_t size = 2048;
    while (size <= static_cast<size_t>(n)) size *= 2;
    char *buf = static_cast<char *>(tcore_zalloc(size));
    vsnprintf(buf, size, fmt, ap);
    tcore_logfile_write(level, g_log, buf);
    free(buf);
}

}  // namespace

int zeb_acx_getLogPath(char *out) {
    if (!out) return ZEB_ACX_ERR_LOG_PATH;
    int n = tcore_wreg_getValue("SignLogPath", "SOFTWARE\\TARN_II\\Log", TCORE_HKEY_CURRENT_USER, out);
    return n < 0 ? ZEB_ACX_ERR_LOG_PATH : n;
}

int zeb_acx_log_init(const char *path, int maxSizeKb) {
    if (maxSizeKb <= 0) maxSizeKb = TCORE_LOGFILE_DEFAULT_KB;
    char configured[256] = {0};
    if (zeb_acx_getLogPath(configured) < 0) configured[0] = '\0';

    std::string name;
    if (path && *path) {
        name = path;
    } else if (configured[0]) {
        name = std::string(configured) + ZEB_ACX_LOG_PROGRAM + ZEB_ACX_LOG_SUFFIX;
    } else {
        return 0;  // nothing configured: an open log stays as it is
    }
    zeb_acx_log_close();

    if (name.size() > TCORE_LOGFILE_NAME_MAX) {
        fprintf(stderr,
                "%s: the log file name is %zu characters long, at most %d fit; logging stays off: %s\n",
                ZEB_ACX_LOG_PROGRAM, name.size(), TCORE_LOGFILE_NAME_MAX, name.c_str());
        return ZEB_ACX_ERR_LOG_OBJECT;
    }
    tcore_logfile *log = tcore_logfile_new(name.c_str(), maxSizeKb);
    if (!log) return ZEB_ACX_ERR_LOG_OBJECT;
    tcore_log_sink = zeb_acx_log_sink;
    replaceLog(log);
    return 0;
}

int zeb_acx_log_close(void) {
    replaceLog(nullptr);
    return 0;
}

void zeb_acx_log_error(const char *fmt, ...) {
    if (!fmt) return;
    va_list ap;
    va_start(ap, fmt);
    writeLine(TCORE_LOG_ERR, fmt, ap);
    va_end(ap);
}

void zeb_acx_log_info(const char *fmt, ...) {
    if (!fmt) return;
    va_list ap;
    va_start(ap, fmt);
    writeLine(TCORE_LOG_INF, fmt, ap);
    va_end(ap);
}

void zeb_acx_log_sink(const char *text) { zeb_acx_log_error("%s", text ? text : ""); }

const char *zeb_acx_log_currentName(void) {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    return g_log ? g_log->name : nullptr;
}
