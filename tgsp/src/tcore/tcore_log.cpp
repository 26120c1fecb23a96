#include "tcore/tcore_log.h"

#include "tcore/tcore_errors.h"
#include "tcore/tcore_mem.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::atomic<tcore_log_sink_fn> tcore_log_sink{nullptr};

enum { LIB_MSG_BUF = 8192, LIB_MSG_MAX = 8190, SYSERR_MSG_MAX = 2046 };

void tcore_log_print(const char *file, int line, const char *fmt, ...) {
    tcore_log_sink_fn sink = tcore_log_sink.load();
    if (!sink) return;
    char *buf = static_cast<char *>(tcore_zalloc(LIB_MSG_BUF));
    int n = snprintf(buf, LIB_MSG_MAX + 1, "(%s %d)", file ? file : "", line);
    if (n >= 0 && n < LIB_MSG_MAX && fmt) {
        va_list ap;
        va_start(ap, fmt);
        vsnprintf(buf + n, LIB_MSG_MAX + 1 - n, fmt, ap);
        va_end(ap);
    }
    sink(buf);
    free(buf);
}

void tcore_log_winError(const char *function, const char *file, int line) {
    int err = errno;
    tcore_log_sink_fn sink = tcore_log_sink.load();
    if (!sink) return;
    char buf[SYSERR_MSG_MAX + 1];
    snprintf(buf, sizeof buf, "(%s %d) %d, %s", file ? file : "", line, err,
             function ? function : "");
    sink(buf);
}

tcore_logfile *tcore_logfile_new(const char *name, int maxSizeKb) {
    if (!name || !*name) return nullptr;
    auto *log = static_cast<tcore_logfile *>(tcore_zalloc(sizeof(tcore_logfile)));
    snprintf(log->name, sizeof log->name, "%s", name);
    log->maxSizeKb = maxSizeKb == 0 ? TCORE_LOGFILE_DEFAULT_KB : maxSizeKb;
    log->backups = 1;
    return log;
}

static const char *levelName(int level) {
    static const char *const names[] = {"ERR", "WAR", "INF"};
    return names[level - 1];
}

// Creates an empty file with mode rw for everyone (less the umask).
static void createEmpty(const char *path, bool truncate) {
    int fd = open(path, O_CREAT | O_RDWR | O_CLOEXEC | (truncate ? O_TRUNC : 0), 0666);
    if (fd >= 0) close(fd);
}

// One backup: name -> name1, then a fresh empty current file. When the move
// fails the current file is kept and grows on, rather than losing its lines.
static void rotate(const char *name) {
    char backup[TCORE_LOGFILE_NAME_MAX + 2];
    snprintf(backup, sizeof backup, "%s1", name);
    unlink(backup);
    if (rename(name, backup) != 0) return;
    createEmpty(name, true);
}

int tcore_logfile_write(int level, tcore_logfile *log, const char *text) {
    if (!log || level < TCORE_LOG_ERR || level > TCORE_LOG_INF) return TCORE_ERR_ARG;

    time_t now = time(nullptr);
    struct tm tm;
    localtime_r(&now, &tm);
    char stamp[64];
    snprintf(stamp, sizeof stamp, "%d/%02d/%02d_%02d:%02d:%02d", tm.tm_year + 1900,
             tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);

    struct stat st;
    if (access(log->name, R_OK) != 0) {
        createEmpty(log->name, false);
    } else if (log->maxSizeKb > 0 && stat(log->name, &st) == 0 &&
               st.st_size > static_cast<off_t>(log->maxSizeKb) * 1024) {
        rotate(log->name);
    }

    log->fp = fopen(log->name, "ab+");
    if (!log->fp) return 0;
    fprintf(log->fp, "[%d] [%s] [%s] ", static_cast<int>(getpid()), levelName(level), stamp);
    fprintf(log->fp, "%s\n", text ? text : "");
    fclose(log->fp);
    log->fp = nullptr;
    return 0;
}

void tcore_logfile_free(tcore_logfile *log) {
    if (!log) return;
    if (log->fp) fclose(log->fp);
    free(log);
}
