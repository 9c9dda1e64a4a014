// SPDX-License-Identifier: MIT
#include "common/logger.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "test_support.h"

namespace ryx {
namespace {

__attribute__((format(printf, 6, 7))) void write(const LoggerState &state, int level, const char *name,
                                                 const char *function, bool echo, const char *format, ...) {
  va_list args;
  va_start(args, format);
  writeLogLine(state, "RYX", level, name, function, echo, format, args);
  va_end(args);
}

// The stamp stays exact after the 213 days at which counter x 1000 passes
// 2^64 at 1 GHz.
TEST(Logger, TimestampHoldsForAnyUptime) {
  char stamp[48];
  formatLogTimestamp((1ull << 63) + 999999999ull, 1000000000ull, stamp, sizeof stamp);
  EXPECT_STREQ(stamp, "9223372037.854");
}

TEST(Logger, LevelFromSettings) {
  const struct {
    bool verbose;
    const char *level;
    int expected;
  } cases[] = {{false, nullptr, 2}, {false, "ERROR", 1},   {false, "warning", 2}, {false, "Info", 3},
               {false, "DEBUG", 4}, {false, "verbose", 2}, {true, "error", 4},    {false, "", 2}};
  for (const auto &c : cases)
    EXPECT_EQ(logLevelFrom(c.verbose, c.level), c.expected) << (c.level ? c.level : "(null)") << c.verbose;
}

// Lines up to the threshold reach the file at once (it is unbuffered); a
// later state of the same process appends.  (The line format: every test
// that reads the log through LogCapture.)
TEST(Logger, ThresholdAndAppending) {
  test::TempDir dir;
  const std::string base = dir / "ryxconfig", file = base + "." + std::to_string(getpid()) + ".txt";
  auto lines = [&file] {
    std::vector<std::string> reduced;
    for (const std::string &line : test::splitLines(test::readTextFile(file))) {
      reduced.emplace_back();
      EXPECT_TRUE(test::reduceLogLine(line, getpid(), &reduced.back())) << line;
    }
    return reduced;
  };
  LoggerState state = makeLoggerState(false, nullptr, base.c_str());
  ASSERT_EQ(state.path, file);
  ASSERT_NE(state.output, nullptr);
  write(state, kLogError, "ERROR", "ryx::Commands::isRyxOn", false, "%s.", "Error creating registry key");
  write(state, kLogWarning, "WARNING", "f", false, "at the threshold");
  write(state, kLogInfo, "INFO", "f", false, "not written");
  EXPECT_EQ(lines(), (std::vector<std::string>{"E RYX (ryx::Commands::isRyxOn): Error creating registry key.",
                                               "W RYX (f): at the threshold"}));
  fclose(state.output);
  LoggerState again = makeLoggerState(true, nullptr, base.c_str());
  write(again, kLogInfo, "INFO", "f", false, "verbose shows info");
  EXPECT_EQ(lines().size(), 3u);
  EXPECT_EQ(test::readTextFile(file).back(), '\n');
  fclose(again.output);
}

// Standard error of a test under Meson is a pipe or file, not a console:
// without a log file nothing is written anywhere, but an echo always is.
TEST(Logger, WithoutAFileOnlyEchoesReachStandardError) {
  test::CaptureFd err(2);
  LoggerState state = makeLoggerState(false, "error", nullptr);
  EXPECT_EQ(state.output, nullptr);
  write(state, kLogError, "ERROR", "f", false, "dropped");
  write(state, kLogInfo, "INFO", "f", true, "value %d", 7);  // above the threshold, echoed all the same
  EXPECT_EQ(err.finish(), "INFO: value 7\n");
}

TEST(Logger, PrintErrorPrefixesFormatsAndDropsAFormatThatDoesNotFit) {
  test::CaptureFd out(1);
  printError("No OpenGL library could be found on this system.\n");
  printError("code %d", 3);
  printError("%s", std::string(300, 'x').c_str());  // the argument may be long...
  printError(std::string(250, 'z').c_str(), 0);     // ...the format with "ERROR: " and "\n" may not pass 255
  EXPECT_EQ(out.finish(), "ERROR: No OpenGL library could be found on this system.\n\nERROR: code 3\nERROR: " +
                              std::string(300, 'x') + "\n");
}

}  // namespace
}  // namespace ryx
