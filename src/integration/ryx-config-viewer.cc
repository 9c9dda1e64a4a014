// SPDX-License-Identifier: MIT
#include "integration/ryx-config-viewer.h"

#include "common/ryx_strfunc.h"

RyxConfigViewer *ryx_config_viewer_new(guint64 id, gboolean supports_rvn, gboolean second_flag, const char *name) {
  RyxConfigViewer *viewer = g_slice_new0(RyxConfigViewer);
  viewer->id = id;
  viewer->supports_rvn = supports_rvn;
  viewer->second_flag = second_flag;
  viewer->name = g_strdup(name);
  return viewer;
}

void ryx_config_viewer_free(RyxConfigViewer *viewer) {
  g_return_if_fail(viewer != NULL);
  g_free(viewer->name);
  g_slice_free(RyxConfigViewer, viewer);
}

gboolean ryx_config_viewer_get_supports_rvn(const RyxConfigViewer *viewer) {
  g_return_val_if_fail(viewer != NULL, FALSE);
  return viewer->supports_rvn;
}
