// SPDX-License-Identifier: MIT
// The 2-second periodic check: settings, server state, published status,
// views, the viewer list, the 150th-refresh rendering server check and the
// Kestrane trigger.
#include <cstdlib>
#include <string>

#include "common/ryx_gcommon.h"
#include "core/ryx-config-manager-private.h"
#include "integration/ryx-config-viewer.h"
#include "integration/vnc-ext-pipe.h"
#include "state/commands.h"
#include "state/error_reporter.h"

namespace {

// With the 2-second period, every 300 seconds.
constexpr guint32 kRefreshesPerServerCheck = 150;

// Whether the commands' last status reaches the reporter; see periodic_check.
bool should_publish (RyxConfigManager *self, const ryx::Commands &commands, const ryx::ErrorReporter &reporter) {
  int32_t code = commands.code ();
  if (self->daemon.using_desktop_capture &&
      (code == ryx::STATUS_SWITCH_ON_FAILED || code == ryx::STATUS_NOT_ENABLED || code == ryx::STATUS_NOT_FUNCTIONING))
    return false;
  if (code == ryx::STATUS_NOT_FUNCTIONING && !ryx_conf_settings_get_ryx_config_warn_missing32_bit ()) return false;
  // A rendering server error stays until the rendering server check runs again.
  if (reporter.code == ryx::STATUS_RENDERING_SERVER_ERROR) return false;
  return true;
}

// The viewers as one line ("2: alpha (5, Kestrane); beta (7)"), in the list's order.
std::string describe_viewers (GList *viewers) {
  std::string text = std::to_string (g_list_length (viewers)) + ":";
  for (GList *l = viewers; l != nullptr; l = l->next) {
    const RyxConfigViewer *viewer = (const RyxConfigViewer *)l->data;
    text += std::string (l == viewers ? " " : "; ") + (viewer->name != nullptr ? viewer->name : "(no name)") + " (" +
            std::to_string (viewer->id) + (viewer->supports_rvn ? ", Kestrane" : "") + ")";
  }
  return text;
}

}  // namespace

gboolean periodic_check (gpointer user_data) {
  RyxConfigManager *self = RYX_CONFIG_MANAGER (user_data);
  ryx::Commands &commands = *self->commands;
  ryx::ErrorReporter &reporter = ryx::ErrorReporter::instance ();

  ryx_conf_settings_reload ();
  gboolean check = ryx_conf_settings_get_ryx_config_check_enabled () != 0;
  bool ok = true;
  if (check && !self->daemon.using_desktop_capture) ok = commands.updateStatus ();
  bool on = ok && commands.isRyxOn (false);
  reporter.ryxOn = on;

  if (should_publish (self, commands, reporter)) {
    reporter.code = commands.code ();
    reporter.setMessage (commands.message ());
  }

  refresh_all (self);

  if (self->daemon.port != 0 && self->trigger == nullptr) create_trigger (self);
  return G_SOURCE_CONTINUE;
}

void refresh_all (RyxConfigManager *self) {
  self->refresh_count++;
  // One viewer exchange per refresh, even while the standalone window and
  // an icon waiting for a notification area are both refreshed.
  gboolean viewers = self->viewers_enabled && (self->status_dialog != nullptr || self->status_icon != nullptr);
  if (viewers) update_viewer_list (self);
  if (self->status_dialog != nullptr) {
    RyxCommandStatusDialog *dialog = RYX_COMMAND_STATUS_DIALOG (self->status_dialog);
    ryx_command_status_dialog_refresh_status (dialog);
    if (viewers) ryx_command_status_dialog_refresh_viewers (dialog, self->viewers);
  }
  if (self->status_icon != nullptr) {
    RyxCommandStatusIcon *icon = RYX_COMMAND_STATUS_ICON (self->status_icon);
    ryx_command_status_icon_refresh_status (icon);
    if (viewers) ryx_command_status_icon_refresh_viewers (icon, self->viewers);
  }
  if (self->refresh_count == kRefreshesPerServerCheck) run_rendering_server_check (self);
}

void update_viewer_list (RyxConfigManager *self) {
  std::string before = describe_viewers (self->viewers);
  g_list_free_full (g_steal_pointer (&self->viewers), (GDestroyNotify) ryx_config_viewer_free);
  guint64 *ids = nullptr;
  gint32 count = GetViewerList (&ids);
  for (gint32 i = 0; i < count; i++) {
    RyxExtViewerInfo info;
    if (GetViewerInfo (ids[i], &info))
      self->viewers =
          g_list_prepend (self->viewers, ryx_config_viewer_new (info.id, info.supports_rvn, info.second_flag, info.name));
  }
  free (ids);
  // Said when it changes only, so a quiet session logs nothing every period.
  std::string after = describe_viewers (self->viewers);
  if (after != before) RYX_LOG (G_LOG_LEVEL_DEBUG, "Viewers listed: %s", after.c_str ());
}
