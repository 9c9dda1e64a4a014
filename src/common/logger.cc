// SPDX-License-Identifier: MIT
#include "common/logger.h"

#include <cstdlib>
#include <cstring>

#include "common/conf_settings.h"
#include "common/cstring.h"
#include "platform/system.h"

namespace ryx {

namespace {

constexpr size_t kFormatBuffer = 256;

// Created by the first message and kept for the process.
LoggerState *loggerState = nullptr;

LoggerState *currentState() {
  if (loggerState == nullptr) {
    const conf::Settings &settings = conf::Settings::instance();
    loggerState = new (std::nothrow)
        LoggerState(makeLoggerState(settings.verbose, settings.log_level.get(), settings.log_file.get()));
  }
  return loggerState;
}

}  // namespace

int logLevelFrom(bool verbose, const char *logLevel) {
  if (verbose) return kLogDebug;
  const char *name = logLevel != nullptr ? logLevel : "warning";
  if (equalsIgnoringCase(name, "error")) return kLogError;
  if (equalsIgnoringCase(name, "warning")) return kLogWarning;
  if (equalsIgnoringCase(name, "info")) return kLogInfo;
  if (equalsIgnoringCase(name, "debug")) return kLogDebug;
  return kLogWarning;
}

int getLogLevel() {
  const conf::Settings &settings = conf::Settings::instance();
  return logLevelFrom(settings.verbose, settings.log_level.get());
}

LoggerState makeLoggerState(bool verbose, const char *logLevel, const char *logFile) {
  LoggerState state;
  state.threshold = logLevelFrom(verbose, logLevel);
  if (logFile != nullptr && *logFile != '\0') {
    char path[4096];
    snprintf(path, sizeof path, "%s.%d.txt", logFile, static_cast<int>(platform::processId()));
    state.path = path;
    state.output = fopen(path, "a");
    if (state.output != nullptr) setvbuf(state.output, nullptr, _IONBF, 0);
  }
  if (state.output == nullptr && platform::stderrIsConsole()) state.output = platform::reopenStderrOnConsole();
  return state;
}

void formatLogTimestamp(uint64_t counter, uint64_t frequency, char *buffer, size_t size) {
  unsigned long long seconds = 0, milliseconds = 0;
  if (frequency != 0) {
    seconds = counter / frequency;
    // The remainder is below the frequency, so this product cannot overflow
    // for any frequency a counter has (below 2^64 / 1000 counts a second).
    milliseconds = (counter % frequency) * 1000 / frequency;
  }
  snprintf(buffer, size, "%llu.%03llu", seconds, milliseconds);
}

void writeLogLine(const LoggerState &state, const char *domain, int level, const char *levelName, const char *function,
                  bool echo, const char *format, va_list args) {
  if (echo) {
    va_list copy;
    va_copy(copy, args);
    fprintf(stderr, "%s: ", levelName);
    vfprintf(stderr, format, copy);
    fputs("\n", stderr);
    va_end(copy);
  }
  if (level > state.threshold || state.output == nullptr) return;

  uint64_t frequency = 0;
  if (!platform::performanceFrequency(&frequency)) frequency = 0;
  char stamp[48];
  formatLogTimestamp(frequency != 0 ? platform::performanceCounter() : 0, frequency, stamp, sizeof stamp);

  fprintf(state.output, "%c %s %d:%d %s (%s): ", levelName != nullptr ? levelName[0] : '?', stamp,
          static_cast<int>(platform::processId()), static_cast<int>(platform::threadId()), domain, function);
  vfprintf(state.output, format, args);
  fputs("\n", state.output);
}

void logMessageV(const char *domain, int level, const char *levelName, const char *function, bool echo,
                 const char *format, va_list args) {
  if (format == nullptr) return;
  LoggerState *state = currentState();
  if (state == nullptr) return;
  writeLogLine(*state, domain, level, levelName, function, echo, format, args);
}

void logMessage(const char *domain, int level, const char *levelName, const char *function, bool echo,
                const char *format, ...) {
  va_list args;
  va_start(args, format);
  logMessageV(domain, level, levelName, function, echo, format, args);
  va_end(args);
}

char *formatStringV(const char *format, va_list args) {
  char *buffer = static_cast<char *>(calloc(kFormatBuffer, 1));
  if (buffer == nullptr) return nullptr;
  int n = vsnprintf(buffer, kFormatBuffer, format, args);
  if (n < 0 || static_cast<size_t>(n) >= kFormatBuffer) {
    free(buffer);
    return nullptr;
  }
  return buffer;
}

char *formatString(const char *format, ...) {
  va_list args;
  va_start(args, format);
  char *text = formatStringV(format, args);
  va_end(args);
  return text;
}

int formatInto(char *buffer, size_t size, const char *format, ...) {
  va_list args;
  va_start(args, format);
  int n = vsnprintf(buffer, size, format, args);
  va_end(args);
  return n;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
void printError(const char *format, ...) {
  char *text = formatString("ERROR: %s\n", format);
  if (text == nullptr) return;
  va_list args;
  va_start(args, format);
  vfprintf(stdout, text, args);  // the caller's format, now with its prefix
  va_end(args);
  fflush(stdout);
  free(text);
}
#pragma GCC diagnostic pop

}  // namespace ryx
