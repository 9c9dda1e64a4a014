// SPDX-License-Identifier: MIT
// The extension pipe client against the stand-in extension in a private
// pipe folder.  No extension: the trigger test's "no extension" row.
#include "integration/vnc-ext-pipe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "integration/vnc-ext-pipe-private.h"
#include "glib_support.h"
#include "test_support.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// A value no request writes, to see whether the out pointer was touched.
guint64 *const kUntouched = reinterpret_cast<guint64 *>(0x1);

int count(const std::vector<std::string> &all, const std::string &line) {
  return static_cast<int>(std::count(all.begin(), all.end(), line));
}

class VncExtPipeTest : public ::testing::Test {
 protected:
  void TearDown() override { stopExtensions(); }
  void stopExtensions() {
    CloseExtPipesForTesting();
    extensions_.clear();
  }

  // Starts the stand-in with `args`, recording to record(tag), and waits
  // until it serves its pipes.
  void startExtension(std::vector<std::string> args, const std::string &tag = "ext") {
    args.insert(args.begin(), {RYX_VNC_EXT_PROGRAM, "--record", record(tag)});
    auto child = std::make_unique<ryx::test::Child>(args);
    std::string line;
    ASSERT_TRUE(child->readLine(&line, 5000)) << "the extension did not start";
    extensions_.push_back(std::move(child));
  }

  // The stand-in writes its record as it goes: waits (up to 3 s) for a
  // second connect to the console session's pipe.
  bool connectedTwice() const {
    return ryx::test::spinUntil([&] { return count(recorded(), "connect VNC_Visualization_Ext_Session-Console") == 2; },
                                3000);
  }

  std::string record(const std::string &tag) const { return dir_ / (tag + ".record"); }
  std::vector<std::string> recorded(const std::string &tag = "ext") const {
    return ryx::test::splitLines(ryx::test::readFile(record(tag)));
  }

  ryx::test::TempDir dir_;
  std::string pipes_ = dir_ / "pipes";
  ryx::test::ScopedEnv pipeDir_{"RYX_PIPE_DIR", pipes_.c_str()};
  ryx::test::ScopedEnv session_{"XDG_SESSION_ID", "3"};
  std::vector<std::unique_ptr<ryx::test::Child>> extensions_;
};

// The first id of the viewer list, 0 when there is not exactly one.
guint64 onlyId() {
  guint64 *ids = nullptr;
  guint64 id = GetViewerList(&ids) == 1 ? ids[0] : 0;
  free(ids);
  return id;
}

TEST_F(VncExtPipeTest, PrefersTheSessionPipeButKeepsThePipeInUse) {
  startExtension({"--console", "--viewer", "1:1:console"}, "console");
  EXPECT_EQ(1u, onlyId());
  startExtension({"--session", "3", "--viewer", "2:1:session"}, "session");
  EXPECT_EQ(1u, onlyId());  // a session pipe that appears later does not take over
  EXPECT_EQ(1, count(recorded("console"), "connect VNC_Visualization_Ext_Session-Console"));
  EXPECT_EQ(2, count(recorded("console"), "GetViewerList"));
  CloseExtPipesForTesting();
  EXPECT_EQ(2u, onlyId());
  EXPECT_EQ(1, count(recorded("session"), "connect VNC_Visualization_Ext_Session-3"));
}

// Without ids the out pointer is null.  (A reply cut by a close: the
// failed-exchange test.)
TEST_F(VncExtPipeTest, ListRepliesOfEveryShape) {
  const std::string high = "9223372036854775813:0:b", highest = "18446744073709551615:1:c";
  struct Case {
    const char *what;
    std::vector<std::string> args;
    std::vector<guint64> ids;
  } cases[] = {
      {"in order, 64 bits wide",
       {"--viewer", "7:1:a", "--viewer", high, "--viewer", highest},
       {7, 9223372036854775813u, 18446744073709551615u}},
      {"P = 20 gives two ids", {"--viewer", "1:1:a", "--viewer", "2:1:b", "--fault", "extra-bytes"}, {1, 2}},
      {"P = 0 gives none", {}, {}},
      {"P above the bound", {"--viewer", "1:1:a", "--fault", "oversized"}, {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    startExtension(c.args);
    guint64 *ids = kUntouched;
    gint32 result = GetViewerList(&ids);
    EXPECT_EQ(result > 0 ? std::vector<guint64>(ids, ids + result) : std::vector<guint64>{}, c.ids);
    EXPECT_EQ(result, static_cast<gint32>(c.ids.size()));
    if (result > 0) free(ids);
    EXPECT_TRUE(result > 0 || ids == nullptr);
    stopExtensions();
  }
}

// "id rvn second name" of what GetViewerInfo gave, "refused" when it failed
// (and then the record must be left alone).
std::string infoOf(guint64 id) {
  RyxExtViewerInfo info;
  memset(&info, 0x55, sizeof info);
  if (!GetViewerInfo(id, &info)) return info.id == 0x5555555555555555u ? "refused" : "refused, record touched";
  return std::to_string(info.id) + " " + std::to_string(info.supports_rvn) + " " + std::to_string(info.second_flag) +
         " " + info.name;
}

TEST_F(VncExtPipeTest, DecodesViewerInfoAndRefusesBrokenReplies) {
  const std::string longName(255, 'n');
  startExtension(
      {"--viewer", "1:1:abc", "--viewer", "2:2,1:flag two", "--viewer", "3:0:", "--viewer", "4:1:" + longName});
  EXPECT_EQ(infoOf(1) + "|" + infoOf(2) + "|" + infoOf(3) + "|" + infoOf(4) + "|" + infoOf(99),
            "1 1 0 abc|2 0 1 flag two|3 0 0 |4 1 0 " + longName + "|refused");  // P = 0 for an unknown id
  stopExtensions();
  // (P above the bound and a cut reply: the list's rows, read by the same code.)
  startExtension({"--viewer", "1:1:abc", "--fault", "tiny-info"});
  EXPECT_EQ(infoOf(1), "refused");
}

// Only a single byte 1 accepts a TrackWindow request (its bytes, and a
// refusal: the trigger's test).
TEST_F(VncExtPipeTest, OnlyASingleByteOneAcceptsATrackRequest) {
  startExtension({"--fault", "track-two-bytes"});
  EXPECT_FALSE(TrackWindow(1, "a", 2));
}

// A failed exchange leaves the ids alone and keeps the pipe: the next
// request goes over it (and fails at once where the extension closed its end).
TEST_F(VncExtPipeTest, AFailedExchangeKeepsThePipe) {
  startExtension({"--viewer", "1:1:a", "--fault", "close-mid-reply"});
  guint64 *ids = kUntouched;
  EXPECT_EQ(0, GetViewerList(&ids));
  EXPECT_EQ(-1, GetViewerList(&ids));
  EXPECT_EQ(kUntouched, ids);
  EXPECT_EQ(1, count(recorded(), "connect VNC_Visualization_Ext_Session-Console"));
  // That failure dropped the broken pipe: the next request opens it again.
  EXPECT_EQ(0, GetViewerList(&ids));
  EXPECT_TRUE(connectedTwice());
}

// A reply that never comes ends at the deadline and drops the pipe; the
// next request opens it again.
TEST_F(VncExtPipeTest, ALateReplyEndsAtTheDeadlineAndDropsThePipe) {
  startExtension({"--viewer", "1:1:a", "--fault", "silent"});
  auto start = steady_clock::now();
  guint64 *ids = nullptr;
  EXPECT_EQ(0, GetViewerList(&ids));
  auto elapsed = steady_clock::now() - start;
  EXPECT_GE(elapsed, milliseconds(RYX_EXT_PIPE_TIMEOUT_MS - 100));
  EXPECT_LT(elapsed, milliseconds(RYX_EXT_PIPE_TIMEOUT_MS + 3000));
  EXPECT_TRUE(OpenExtPipe(RYX_EXT_PIPE_SESSION));
  EXPECT_TRUE(connectedTwice());
}

}  // namespace
