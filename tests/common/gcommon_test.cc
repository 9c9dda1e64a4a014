// SPDX-License-Identifier: MIT
// The common library interface: logging through GLib and the getters.
#include "common/ryx_gcommon.h"

#include <gtest/gtest.h>

#include "glib_support.h"
#include "installation.h"

namespace {

class CommonInterface : public ::testing::Test, public ryx::test::Installation {
 protected:
  ryx::test::GLogCapture log;
};

TEST_F(CommonInterface, LogRecordsCarryTheirFieldsAndAnErrorDoesNotAbort) {
  ryx_log_setup("ryxconfig", 0);
  ryx_log("RYX", G_LOG_LEVEL_DEBUG, "show_gui", 42, "Show %s", "GUI");
  RYX_LOG(G_LOG_LEVEL_ERROR, "No RVN extension %d", 1);
  RYX_LOG(G_LOG_LEVEL_WARNING, "after");
  const auto &records = log.records();
  ASSERT_EQ(records.size(), 3u);
  const struct {
    size_t record;
    const char *field, *value;  // value null: the field is absent
  } rows[] = {
      {0, "GLIB_DOMAIN", "RYX"},
      {0, "MESSAGE", "Show GUI"},
      {0, "CODE_FUNC", "show_gui"},
      {0, "CODE_LINE", "42"},
      {0, "PRIORITY", "7"},
      {0, "SYSLOG_IDENTIFIER", "ryxconfig"},
      {1, "MESSAGE", "No RVN extension 1"},
      {1, "RYX_LEVEL", "error"},
      {1, "PRIORITY", "3"},
      {1, "CODE_FUNC", "TestBody"},  // the plain name, not the signature
      {2, "RYX_LEVEL", nullptr},
  };
  for (const auto &r : rows) {
    auto fields = records[r.record].fields;
    if (r.value == nullptr)
      EXPECT_EQ(fields.count(r.field), 0u) << r.record << " " << r.field;
    else
      EXPECT_EQ(fields[r.field], r.value) << r.record << " " << r.field;
  }
  EXPECT_EQ(records[2].level, G_LOG_LEVEL_WARNING);
}

TEST_F(CommonInterface, GettersFollowTheFilesAfterAReload) {
  ryx_conf_settings_reload();
  EXPECT_EQ(ryx_conf_settings_get_console_port(), 2000);
  EXPECT_EQ(ryx_conf_settings_get_rendering_server(), nullptr);
  ryx::test::writeFile(systemFile(),
                       "[Console]\nconsole_port = 2100\n[Application]\nexternal_rendering_server = rs:2007\n"
                       "use_nvidia_grid = false\nvnc_ext_version = 1\n");
  EXPECT_EQ(ryx_conf_settings_get_console_port(), 2000);  // until the reload
  ryx_conf_settings_reload();
  EXPECT_EQ(ryx_conf_settings_get_console_port(), 2100);
  g_autofree char *server = ryx_conf_settings_get_rendering_server();
  EXPECT_STREQ(server, "rs:2007");
  EXPECT_FALSE(ryx_conf_settings_get_use_nvidia_grid());
  EXPECT_EQ(ryx_conf_settings_get_vnc_ext_version(), 1);

  // A file broken while the program runs is reported once, however many
  // checks read the settings again, and stays out, even once fixed.
  ryx::test::writeFile(systemFile(), "[Console]\nbroken\n");
  {
    ryx::test::CaptureFd err(2);
    for (int check = 0; check < 3; ++check) ryx_conf_settings_reload();
    std::string reports = err.finish();
    size_t first = reports.find("\":<errnum 1>");
    EXPECT_NE(first, std::string::npos) << reports;
    EXPECT_EQ(reports.find("\":<errnum 1>", first + 1), std::string::npos) << reports;
  }
  ryx::test::writeFile(systemFile(), "[Console]\nconsole_port = 2200\n");
  ryx_conf_settings_reload();
  EXPECT_EQ(ryx_conf_settings_get_console_port(), 2000);
}

TEST_F(CommonInterface, VvnFlag) {
  const struct {
    const char *value;
    int expected;
  } cases[] = {{nullptr, 0}, {"1", 1}, {" TRUE ", 1}, {"0", 0}, {"yes", 0}};
  for (const auto &c : cases) {
    set("RYX_VVN_ENABLED", c.value);
    EXPECT_EQ(ryx_is_vvn_enabled(), c.expected) << (c.value ? c.value : "(unset)");
  }
}

}  // namespace
