// SPDX-License-Identifier: MIT
// The common library interface: logging through GLib and the getters.
// (RYX_VVN_ENABLED is Settings::parseBool's text, stripped: SettingsTest
// and the hand-over test's VVN rows.)
#include "common/ryx_gcommon.h"

#include <gtest/gtest.h>

#include <tuple>

#include "glib_support.h"
#include "installation.h"

namespace {

class CommonInterface : public ::testing::Test, public ryx::test::Installation {
 protected:
  ryx::test::GLogCapture log;
};

// The fields of a record, CODE_LINE apart, as "KEY=value" lines.
std::string fieldsOf(const ryx::test::LogRecord &record) {
  std::string text;
  for (const auto &[key, value] : record.fields)
    if (key != "CODE_LINE") text += key + "=" + value + "\n";
  return text;
}

TEST_F(CommonInterface, LogRecordsCarryTheirFieldsAndAnErrorDoesNotAbort) {
  ryx_log_setup("ryxconfig", 0);
  ryx_log("RYX", G_LOG_LEVEL_DEBUG, "show_gui", 42, "Show %s", "GUI");
  RYX_LOG(G_LOG_LEVEL_ERROR, "No RVN extension %d", 1);
  RYX_LOG(G_LOG_LEVEL_WARNING, "after");
  const auto &records = log.records();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].fields.at("CODE_LINE"), "42");
  EXPECT_EQ(fieldsOf(records[0]),
            "CODE_FUNC=show_gui\nGLIB_DOMAIN=RYX\nMESSAGE=Show GUI\nPRIORITY=7\nSYSLOG_IDENTIFIER=ryxconfig\n");
  EXPECT_EQ(fieldsOf(records[1]),  // the function's plain name, not its signature
            "CODE_FUNC=TestBody\nGLIB_DOMAIN=RYX\nMESSAGE=No RVN extension 1\nPRIORITY=3\nRYX_LEVEL=error\n"
            "SYSLOG_IDENTIFIER=ryxconfig\n");
  EXPECT_EQ(records[2].fields.count("RYX_LEVEL"), 0u);
  EXPECT_EQ(records[2].level, G_LOG_LEVEL_WARNING);
}

// The getters read the table, which a reload reads again.  (A file found
// broken stays out: SettingsTest.)
TEST_F(CommonInterface, GettersFollowTheFilesAfterAReload) {
  ryx_conf_settings_reload();
  EXPECT_EQ(ryx_conf_settings_get_console_port(), 2000);
  EXPECT_EQ(ryx_conf_settings_get_rendering_server(), nullptr);
  ryx::test::writeFile(systemFile(),
                       "[Console]\nconsole_port = 2100\n[Application]\nexternal_rendering_server = rs:2007\n"
                       "use_nvidia_grid = false\nvnc_ext_version = 1\n");
  EXPECT_EQ(ryx_conf_settings_get_console_port(), 2000);  // until the reload
  ryx_conf_settings_reload();
  g_autofree char *server = ryx_conf_settings_get_rendering_server();
  EXPECT_EQ(std::make_tuple(ryx_conf_settings_get_console_port(), std::string(server),
                            ryx_conf_settings_get_use_nvidia_grid(), ryx_conf_settings_get_vnc_ext_version()),
            std::make_tuple(2100, std::string("rs:2007"), 0, 1));
}

}  // namespace
