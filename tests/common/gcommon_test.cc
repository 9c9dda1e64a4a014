// SPDX-License-Identifier: MIT
// The common library interface: logging through GLib and the getters.
#include "common/ryx_gcommon.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config_fixture.h"
#include "glib_support.h"

namespace {

class CommonInterface : public ryx::test::ConfigFixture {
 protected:
  ryx::test::GLogCapture log;
  std::vector<ryx::test::LogRecord> records() const { return log.records(); }
};

TEST_F(CommonInterface, LogCarriesDomainLevelFunctionAndLine) {
  ryx_log_setup("ryxconfig", 0);
  ryx_log("RYX", G_LOG_LEVEL_DEBUG, "show_gui", 42, "Show %s", "GUI");
  ASSERT_EQ(records().size(), 1u);
  EXPECT_EQ(records()[0].level, G_LOG_LEVEL_DEBUG);
  EXPECT_EQ(records()[0].fields["GLIB_DOMAIN"], "RYX");
  EXPECT_EQ(records()[0].fields["MESSAGE"], "Show GUI");
  EXPECT_EQ(records()[0].fields["CODE_FUNC"], "show_gui");
  EXPECT_EQ(records()[0].fields["CODE_LINE"], "42");
  EXPECT_EQ(records()[0].fields["PRIORITY"], "7");
  EXPECT_EQ(records()[0].fields["SYSLOG_IDENTIFIER"], "ryxconfig");
}

TEST_F(CommonInterface, ErrorIsReportedAndTheProgramGoesOn) {
  RYX_LOG(G_LOG_LEVEL_ERROR, "No RVN extension %d", 1);
  RYX_LOG(G_LOG_LEVEL_WARNING, "after");
  ASSERT_EQ(records().size(), 2u);
  EXPECT_EQ(records()[0].fields["MESSAGE"], "No RVN extension 1");
  EXPECT_EQ(records()[0].fields["RYX_LEVEL"], "error");
  EXPECT_EQ(records()[0].fields["PRIORITY"], "3");
  EXPECT_EQ(records()[0].fields["CODE_FUNC"], "TestBody");  // the plain name, not the signature
  EXPECT_EQ(records()[1].level, G_LOG_LEVEL_WARNING);
  EXPECT_EQ(records()[1].fields.count("RYX_LEVEL"), 0u);
}

TEST_F(CommonInterface, GettersFollowTheFilesAfterAReload) {
  ryx_conf_settings_reload();
  EXPECT_EQ(ryx_conf_settings_get_console_port(), 2000);
  EXPECT_EQ(ryx_conf_settings_get_ryx_config_dock_timeout(), 10);
  EXPECT_TRUE(ryx_conf_settings_get_ryx_config_check_enabled());
  EXPECT_TRUE(ryx_conf_settings_get_ryx_config_warn_missing32_bit());
  EXPECT_TRUE(ryx_conf_settings_get_use_nvidia_grid());
  EXPECT_EQ(ryx_conf_settings_get_vnc_ext_version(), 0);
  EXPECT_EQ(ryx_conf_settings_get_rendering_server(), nullptr);
  g_autofree char *position = ryx_conf_settings_get_ryx_config_trigger_position();
  EXPECT_STREQ(position, "0,0");

  // A system file created while the program runs is seen at the next reload.
  ryx::test::writeFile(systemFile(),
                       "[Console]\nconsole_port = 2100\n[Application]\nexternal_rendering_server = rs:2007\n"
                       "use_nvidia_grid = false\nvnc_ext_version = 1\n");
  EXPECT_EQ(ryx_conf_settings_get_console_port(), 2000);
  ryx_conf_settings_reload();
  EXPECT_EQ(ryx_conf_settings_get_console_port(), 2100);
  g_autofree char *server = ryx_conf_settings_get_rendering_server();
  EXPECT_STREQ(server, "rs:2007");
  EXPECT_FALSE(ryx_conf_settings_get_use_nvidia_grid());
  EXPECT_EQ(ryx_conf_settings_get_vnc_ext_version(), 1);

  // A file broken while the program runs is reported; a fixed one is read again.
  ryx::test::writeFile(systemFile(), "[Console]\nbroken\n");
  {
    ryx::test::CaptureFd err(2);
    ryx_conf_settings_reload();
    EXPECT_NE(err.finish().find("Parser error. (line 2)"), std::string::npos);
  }
  EXPECT_EQ(ryx_conf_settings_get_console_port(), 2000);
  ryx::test::writeFile(systemFile(), "[Console]\nconsole_port = 2200\n");
  ryx_conf_settings_reload();
  EXPECT_EQ(ryx_conf_settings_get_console_port(), 2200);
}

TEST_F(CommonInterface, RootAndVvnFlag) {
  g_autofree char *root = ryx_get_root();
  EXPECT_EQ(std::string(root), this->root());
  const struct {
    const char *value;
    int expected;
  } cases[] = {{nullptr, 0}, {"1", 1}, {" true ", 1}, {"TRUE", 1}, {"0", 0}, {"false", 0}, {"yes", 0}};
  for (const auto &c : cases) {
    set("RYX_VVN_ENABLED", c.value);
    EXPECT_EQ(ryx_is_vvn_enabled(), c.expected) << (c.value ? c.value : "(unset)");
  }
}

}  // namespace
