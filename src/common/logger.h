// SPDX-License-Identifier: MIT
// The in-program logger: one line per message,
//   "%c %s %d:%d %s (%s): " + message
// (level letter, seconds since machine start, process:thread, domain,
// function) to a per-process log file or the console, filtered by the
// configured level.  Also the "ERROR: " routine and two formatters.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// The printf dialect the formatting calls are checked against; the build
// names another where the C runtime's own differs (mingw's C99 stdio).
#ifndef RYX_PRINTF_FORMAT
#define RYX_PRINTF_FORMAT printf
#endif

namespace ryx {

enum LogLevel : int { kLogError = 1, kLogWarning = 2, kLogInfo = 3, kLogDebug = 4 };

void logMessage(const char *domain, int level, const char *levelName, const char *function, bool echo,
                const char *format, ...) __attribute__((format(RYX_PRINTF_FORMAT, 6, 7)));
void logMessageV(const char *domain, int level, const char *levelName, const char *function, bool echo,
                 const char *format, va_list args) __attribute__((format(RYX_PRINTF_FORMAT, 6, 0)));

// The threshold from the settings: 4 when "verbose", else "log_level".
int getLogLevel();
int logLevelFrom(bool verbose, const char *logLevel);

// Prints "ERROR: " + format + "\n" on standard output.
void printError(const char *format, ...) __attribute__((format(RYX_PRINTF_FORMAT, 1, 2)));

// Formats into a new zero-filled 256-byte buffer (free it); null when the
// result does not fit.
char *formatString(const char *format, ...) __attribute__((format(RYX_PRINTF_FORMAT, 1, 2)));
char *formatStringV(const char *format, va_list args) __attribute__((format(RYX_PRINTF_FORMAT, 1, 0)));

// Formats into the caller's buffer; the result of vsnprintf.
int formatInto(char *buffer, size_t size, const char *format, ...) __attribute__((format(RYX_PRINTF_FORMAT, 3, 4)));

// The logger's state, made once from the settings on the first message.
struct LoggerState {
  int threshold = kLogWarning;
  std::string path;  // empty when no log file is set
  FILE *output = nullptr;
};

// Builds a state: threshold, and the output opened from `logFile` (the
// per-process file "%s.%d.txt") or else the console.
LoggerState makeLoggerState(bool verbose, const char *logLevel, const char *logFile);

// The time stamp of a log line, "SECONDS.MILLISECONDS", from a performance
// counter reading and its frequency (counts per second; 0 gives "0.000").
// Exact for every counter value: servers stay up for years, and a counter
// at 1 GHz times 1000 passes 2^64 after 213 days.
void formatLogTimestamp(uint64_t counter, uint64_t frequency, char *buffer, size_t size);

// Writes one line through `state` (the part of logMessage after the state exists).
void writeLogLine(const LoggerState &state, const char *domain, int level, const char *levelName, const char *function,
                  bool echo, const char *format, va_list args) __attribute__((format(RYX_PRINTF_FORMAT, 7, 0)));

}  // namespace ryx

// Shorthands for the call sites of the in-program library.
#define RYX_LOG_ERROR(function, ...) ::ryx::logMessage("RYX", ::ryx::kLogError, "ERROR", function, false, __VA_ARGS__)
#define RYX_LOG_WARNING(function, ...) \
  ::ryx::logMessage("RYX", ::ryx::kLogWarning, "WARNING", function, false, __VA_ARGS__)
#define RYX_LOG_INFO(function, ...) ::ryx::logMessage("RYX", ::ryx::kLogInfo, "INFO", function, false, __VA_ARGS__)
