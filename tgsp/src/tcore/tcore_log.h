// Library logging and the log file object.
//
// Library code never touches the log file. It formats a message with its
// source location and hands it to the process-wide sink; when no sink is
// installed the message is neither formatted nor kept. The program installs
// a sink that writes the text as an error line (zeb_acx_log_sink).
//
// A log file object appends one line per call: open, append, close. No file
// handle stays open between lines.
#pragma once
#include <atomic>
#include <cstdio>

typedef void (*tcore_log_sink_fn)(const char *text);

// The installed sink, or null. Set by the program's log start-up.
extern std::atomic<tcore_log_sink_fn> tcore_log_sink;

// "(file line)" immediately followed by the formatted message, cut to 8190
// characters, passed to the sink. Nothing happens without a sink.
void tcore_log_print(const char *file, int line, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));

// "(file line) errno, function" for a failed system call, cut to 2046
// characters, passed to the sink. Reads errno before anything else runs.
void tcore_log_winError(const char *function, const char *file, int line);

#define TCORE_LOG(...) tcore_log_print(__FILE__, __LINE__, __VA_ARGS__)
#define TCORE_LOG_SYSERR(function) tcore_log_winError((function), __FILE__, __LINE__)

// Argument checks of the general library: log the conventional line naming
// the function and argument, then return -10002 (TCORE_ERR_ARG).
#define TCORE_CHECK_NULL(arg)                                                   \
    do {                                                                        \
        if (!(arg)) {                                                           \
            TCORE_LOG("%s arg %s is NULL", __func__, #arg);                     \
            return TCORE_ERR_ARG;                                               \
        }                                                                       \
    } while (0)
#define TCORE_CHECK_STR(arg)                                                    \
    do {                                                                        \
        if (!(arg) || !*(arg)) {                                                \
            TCORE_LOG("%s arg %s is NULL or length 0", __func__, #arg);         \
            return TCORE_ERR_ARG;                                               \
        }                                                                       \
    } while (0)
#define TCORE_CHECK_POSITIVE(arg)                                               \
    do {                                                                        \
        if ((arg) <= 0) {                                                       \
            TCORE_LOG("%s arg %s is <= 0", __func__, #arg);                     \
            return TCORE_ERR_ARG;                                               \
        }                                                                       \
    } while (0)
#define TCORE_CHECK_NONNEGATIVE(arg)                                            \
    do {                                                                        \
        if ((arg) < 0) {                                                        \
            TCORE_LOG("%s arg %s is < 0", __func__, #arg);                      \
            return TCORE_ERR_ARG;                                               \
        }                                                                       \
    } while (0)

// Log levels accepted by tcore_logfile_write.
#define TCORE_LOG_ERR 1  // "ERR"
#define TCORE_LOG_WAR 2  // "WAR"
#define TCORE_LOG_INF 3  // "INF"

#define TCORE_LOGFILE_NAME_MAX 255     // longer names are cut
#define TCORE_LOGFILE_DEFAULT_KB 102400

struct tcore_logfile {
    FILE *fp;                                  // open only while writing a line
    char name[TCORE_LOGFILE_NAME_MAX + 1];     // current log file path
    int maxSizeKb;                             // <= 0: no size check
    int backups;                               // always 1
};

// New log object for the file `name` (cut to 255 characters); maxSizeKb 0
// gives 102400. Null for a null or empty name. Touches no file.
tcore_logfile *tcore_logfile_new(const char *name, int maxSizeKb);

// Appends "[pid] [LVL] [YYYY/MM/DD_hh:mm:ss] text\n", creating the file when
// missing and rotating it to name + "1" first when it is larger than the
// maximum size (when the file cannot be moved it is kept and grows on). Returns 0 (also when the file cannot be written: logging
// never fails its caller); -10002 for a null object or a level outside 1-3.
int tcore_logfile_write(int level, tcore_logfile *log, const char *text);

// Frees the object (null is ignored); closes the handle if open.
void tcore_logfile_free(tcore_logfile *log);
