// SPDX-License-Identifier: MIT
// The rendering server check against the stand-in rendering server on
// loopback.  The default port 2007 is fixed, so those cases use a loopback
// address of their own (127.a.b.c, all of 127/8 reaches this machine) to
// stay clear of anything else on port 2007, and are skipped when none of a
// few tries can be had.  The check's deadline against a silent server is
// shown by the whole program (e2e), the Host header by the HTTP client's tests.
#include "integration/rendering-server-check.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "state/error_reporter.h"
#include "state/status.h"
#include "render_server.h"
#include "common/ryx_gcommon.h"
#include "installation.h"

namespace {

using ryx::test::RenderServer;

class RenderingServerCheckTest : public ::testing::Test {
 protected:
  // Runs the check on `setting` (null: unset) from a refresh count and a
  // reporter state that it must overwrite; true when it cleared the status,
  // false when it reported the rendering server error.
  bool cleared(const char *setting) {
    settings.set("RYX_RENDERING_SERVER", setting);
    ryx_conf_settings_reload();
    ryx::ErrorReporter &reporter = ryx::ErrorReporter::instance();
    reporter.code = ryx::STATUS_NOT_ENABLED;
    reporter.setMessage("left over");
    guint32 refreshCount = 149;
    check_rendering_server(&refreshCount);
    EXPECT_EQ(refreshCount, 0u);
    std::string message = reporter.message != nullptr ? reporter.message : "(null)";
    if (reporter.code == ryx::STATUS_OK && message.empty()) return true;
    EXPECT_EQ(reporter.code, ryx::STATUS_RENDERING_SERVER_ERROR);
    EXPECT_EQ(message, "Cannot communicate with the Rendering Server");
    return false;
  }

  ryx::test::Installation settings;
};

TEST_F(RenderingServerCheckTest, PortOutsideTheRangeOrNotANumberMeans2007) {
  static std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<int> octet(1, 254);
  std::string address;
  std::unique_ptr<RenderServer> server;
  for (int attempt = 0; attempt < 5 && (server == nullptr || server->port() != RYX_RENDERING_SERVER_DEFAULT_PORT);
       ++attempt) {
    address = "127." + std::to_string(octet(random)) + "." + std::to_string(octet(random)) + "." +
              std::to_string(octet(random));
    server = std::make_unique<RenderServer>(std::vector<std::string>{}, address, RYX_RENDERING_SERVER_DEFAULT_PORT);
  }
  if (server->port() != RYX_RENDERING_SERVER_DEFAULT_PORT)
    GTEST_SKIP() << "port 2007 is taken on every loopback address tried";

  const struct {
    std::string after;  // what follows the host in the setting
    bool reached;       // a server listens at the port the rule gives
  } cases[] = {
      {"", true},
      {":65536", true},  // (not a number reads as 0)
      {":" + std::to_string(ryx::test::unusedPort()), false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE("setting \"" + address + c.after + "\"");
    EXPECT_EQ(cleared((address + c.after).c_str()), c.reached);
  }
}

// No setting clears the status; so does any answer that parses, whatever
// its code; an answer that does not parse or no such host is the error.
// (Nobody listening: the port rows above; a server that never answers: e2e
// faults RenderingServerSilent; what does not parse: http_test.cc.)
TEST_F(RenderingServerCheckTest, StatusFollowsWhetherAnAnswerParses) {
  for (const char *setting : {static_cast<const char *>(nullptr), ""}) EXPECT_TRUE(cleared(setting));
  const struct {
    std::vector<std::string> args;
    bool cleared;
  } cases[] = {
      {{"--status", "HTTP/1.1 404 Not Found"}, true},
      {{"--mode", "no-empty-line"}, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.args[1]);
    RenderServer server(c.args);
    ASSERT_NE(server.port(), 0);
    EXPECT_EQ(cleared(("127.0.0.1:" + std::to_string(server.port())).c_str()), c.cleared);
  }
  EXPECT_FALSE(cleared("no-such-host.invalid"));
}

}  // namespace
