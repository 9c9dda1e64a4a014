// SPDX-License-Identifier: MIT
#include "common/ryx_gcommon.h"

#include <memory>

#include "common/conf_settings.h"
#include "common/install_root.h"

namespace {

char *logName = nullptr;
bool defaultWriter = false;

// The table behind the getters.  Unlike the process-wide table, which is
// filled once, this one is read again at every reload, so an edit or a file
// created while the program runs is seen at the next reload; a file found
// broken is reported once and left out from then on.
std::unique_ptr<ryx::conf::Settings> &table() {
  static std::unique_ptr<ryx::conf::Settings> settings;
  if (!settings) settings = std::make_unique<ryx::conf::Settings>();
  return settings;
}

const char *priorityOf(GLogLevelFlags level) {
  switch (level & G_LOG_LEVEL_MASK) {
    case G_LOG_LEVEL_ERROR: return "3";
    case G_LOG_LEVEL_CRITICAL: return "4";
    case G_LOG_LEVEL_WARNING: return "4";
    case G_LOG_LEVEL_MESSAGE: return "5";
    case G_LOG_LEVEL_INFO: return "6";
    default: return "7";
  }
}

}  // namespace

void ryx_log_setup(const char *name, int flags) {
  (void)flags;
  // Every line of the log, debug and info included, goes to standard error;
  // standard output stays free for what a program prints on purpose.
  g_log_writer_default_set_use_stderr(TRUE);
  g_free(logName);
  logName = g_strdup(name);
}

const char *ryx_log_get_name(void) { return logName; }

void ryx_log_use_default_writer(void) { defaultWriter = true; }

void ryx_log(const char *domain, GLogLevelFlags level, const char *function, int line, const char *format, ...) {
  if (format == nullptr) return;
  if (defaultWriter && g_log_writer_default_would_drop(level, domain != nullptr ? domain : "RYX")) return;
  va_list args;
  va_start(args, format);
  g_autofree char *message = g_strdup_vprintf(format, args);
  va_end(args);
  char lineText[16];
  g_snprintf(lineText, sizeof lineText, "%d", line);

  // GLib aborts the process after any G_LOG_LEVEL_ERROR message.  An error
  // here is something to report, not a reason to stop, so it goes out as
  // CRITICAL with the error's syslog priority and our own level field.
  bool isError = (level & G_LOG_LEVEL_ERROR) != 0;
  GLogLevelFlags emitted = isError ? G_LOG_LEVEL_CRITICAL : level;
  const char *identifier = logName != nullptr ? logName : g_get_prgname();
  GLogField fields[7] = {
      {"GLIB_DOMAIN", domain != nullptr ? domain : "RYX", -1},
      {"PRIORITY", priorityOf(level), -1},
      {"MESSAGE", message, -1},
      {"CODE_FUNC", function != nullptr ? function : "", -1},
      {"CODE_LINE", lineText, -1},
  };
  gsize count = 5;
  if (isError) fields[count++] = {"RYX_LEVEL", "error", -1};
  if (identifier != nullptr) fields[count++] = {"SYSLOG_IDENTIFIER", identifier, -1};
  g_log_structured_array(emitted, fields, count);
}

char *ryx_get_root(void) {
  char root[ryx::kInstallRootSize];
  ryx::getInstallRoot(root);
  return g_strdup(root);
}

int ryx_is_vvn_enabled(void) {
  const char *value = g_getenv("RYX_VVN_ENABLED");
  if (value == nullptr) return 0;
  g_autofree char *trimmed = g_strstrip(g_strdup(value));
  bool enabled = false;
  return ryx::Settings::parseBool(trimmed, &enabled) && enabled ? 1 : 0;
}

void ryx_conf_settings_reload(void) {
  // Where the files are looked for follows the install root and the user's
  // folder; when those moved (a test's sandbox), the old table has nothing to
  // keep and a new one starts.
  const ryx::Settings where;
  std::unique_ptr<ryx::conf::Settings> &current = table();
  if (where.userPath() != current->userPath() || where.systemPath() != current->systemPath() ||
      where.adminPath() != current->adminPath())
    current = std::make_unique<ryx::conf::Settings>();
  else
    current->reload();
}

int ryx_conf_settings_get_console_port(void) { return table()->console_port; }
int ryx_conf_settings_get_ryx_config_check_enabled(void) { return table()->ryx_config_check_enabled; }
int ryx_conf_settings_get_ryx_config_dock_timeout(void) { return table()->ryx_config_dock_timeout; }
char *ryx_conf_settings_get_ryx_config_trigger_position(void) {
  return g_strdup(table()->ryx_config_trigger_position.get());
}
int ryx_conf_settings_get_ryx_config_warn_missing32_bit(void) { return table()->ryx_config_warn_missing32_bit; }
char *ryx_conf_settings_get_rendering_server(void) { return g_strdup(table()->rendering_server.get()); }
int ryx_conf_settings_get_use_nvidia_grid(void) { return table()->use_nvidia_grid; }
int ryx_conf_settings_get_vnc_ext_version(void) { return table()->vnc_ext_version; }
