// The program's log: one plain-text file, one line per call.
//
// Lines are "[pid] [LVL] [YYYY/MM/DD_hh:mm:ss] message\n"; each line opens,
// appends and closes the file. Logging is off until zeb_acx_log_init finds
// a location (an explicit path, or the registry value HKEY_CURRENT_USER
// SOFTWARE\TARN_II\Log "SignLogPath" followed directly by
// "sealdesk_corvina_server.txt"). Once on, the general library's messages
// reach the file too, as error lines, through zeb_acx_log_sink.
//
// States: off (no log, no sink) -> on (log and sink) -> closed (no log,
// sink still installed: library messages are formatted and dropped) -> on
// again through another zeb_acx_log_init.
#pragma once

#define ZEB_ACX_LOG_PROGRAM "sealdesk_corvina"
#define ZEB_ACX_LOG_SUFFIX "_server.txt"
#define ZEB_ACX_ERR_LOG_OBJECT (-3009)  // the log cannot be opened at that name
#define ZEB_ACX_ERR_LOG_PATH (-1038)    // "SignLogPath" cannot be read

// Opens the log. maxSizeKb <= 0 means 102400 (100 MB per file, one backup
// named with "1" appended). With a non-empty path, closes the current log
// and uses that path. Otherwise reads "SignLogPath": when it is missing or
// empty nothing changes and 0 is returned (an open log stays open);
// otherwise the current log is closed and the log goes to SignLogPath +
// "sealdesk_corvina" + "_server.txt" (no separator is inserted). No file is
// touched here: the first line creates it.
// Returns 0; -3009 when the log cannot be made: the name is longer than 255
// characters (said on stderr; the name is never cut, so no other file is
// written) or the object cannot be created. The log is closed then.
int zeb_acx_log_init(const char *path, int maxSizeKb);

// Closes the current log (frees it); later lines are dropped. 0, also when
// no log is open.
int zeb_acx_log_close(void);

// printf-style error line (level 1, "ERR") / information line (level 3,
// "INF"); nothing without a current log. Messages are never cut.
void zeb_acx_log_error(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void zeb_acx_log_info(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// The general library's sink: writes text as an error line.
void zeb_acx_log_sink(const char *text);

// Reads "SignLogPath" into out (256 bytes). Returns its length; -1038 when
// it cannot be read (missing key or value, more than 255 characters) or out
// is null.
int zeb_acx_getLogPath(char *out);

// Full name of the current log file, or null when no log is open (valid
// until the next zeb_acx_log_init or zeb_acx_log_close).
const char *zeb_acx_log_currentName(void);
