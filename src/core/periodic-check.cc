// SPDX-License-Identifier: MIT
#include "core/periodic-check.h"

#include <cstdlib>
#include <string>

#include "common/ryx_gcommon.h"
#include "common/ryx_strfunc.h"
#include "integration/ryx-config-viewer.h"
#include "integration/vnc-ext-pipe.h"
#include "state/commands.h"
#include "state/error_reporter.h"
#include "state/status.h"

namespace {

constexpr guint32 kRefreshesPerServerCheck = 150;

// The viewers as one line ("2: alpha (5, Kestrane); beta (7)"), in the list's order.
std::string describe_viewers(GList *viewers) {
  std::string text = std::to_string(g_list_length(viewers)) + ":";
  for (GList *l = viewers; l != nullptr; l = l->next) {
    const RyxConfigViewer *viewer = (const RyxConfigViewer *)l->data;
    text += std::string(l == viewers ? " " : "; ") + (viewer->name != nullptr ? viewer->name : "(no name)") + " (" +
            std::to_string(viewer->id) + (viewer->supports_rvn ? ", Kestrane" : "") + ")";
  }
  return text;
}

}  // namespace

void ryx_periodic_check_publish_state(ryx::Commands *commands, gboolean desktop_capture) {
  ryx::ErrorReporter &reporter = ryx::ErrorReporter::instance();
  ryx_conf_settings_reload();
  gboolean check = ryx_conf_settings_get_ryx_config_check_enabled() != 0;
  bool ok = true;
  if (check && !desktop_capture) ok = commands->updateStatus();
  reporter.ryxOn = ok && commands->isRyxOn(false);
  if (ryx::isStatusPublished(commands->code(), reporter.code, desktop_capture,
                             ryx_conf_settings_get_ryx_config_warn_missing32_bit() != 0)) {
    reporter.code = commands->code();
    reporter.setMessage(commands->message());
  }
}

GList *ryx_periodic_check_list_viewers(GList *previous) {
  std::string before = describe_viewers(previous);
  g_list_free_full(previous, (GDestroyNotify)ryx_config_viewer_free);
  GList *viewers = nullptr;
  guint64 *ids = nullptr;
  gint32 count = GetViewerList(&ids);
  for (gint32 i = 0; i < count; i++) {
    RyxExtViewerInfo info;
    if (GetViewerInfo(ids[i], &info))
      viewers = g_list_prepend(viewers, ryx_config_viewer_new(info.id, info.supports_rvn, info.second_flag, info.name));
  }
  free(ids);
  std::string after = describe_viewers(viewers);
  if (after != before) RYX_LOG(G_LOG_LEVEL_DEBUG, "Viewers listed: %s", after.c_str());
  return viewers;
}

gboolean ryx_periodic_check_count_refresh(guint32 *count) { return ++*count == kRefreshesPerServerCheck; }
