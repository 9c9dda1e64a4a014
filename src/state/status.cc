// SPDX-License-Identifier: MIT
#include "state/status.h"

namespace ryx {

bool isStatusPublished(int32_t code, int32_t publishedCode, bool desktopCapture, bool warnMissing32Bit) {
  if (desktopCapture &&
      (code == STATUS_SWITCH_ON_FAILED || code == STATUS_NOT_ENABLED || code == STATUS_NOT_FUNCTIONING))
    return false;
  if (code == STATUS_NOT_FUNCTIONING && !warnMissing32Bit) return false;
  return publishedCode != STATUS_RENDERING_SERVER_ERROR;
}

StatusView statusViewOf(int32_t code, bool gridInUse) {
  StatusView view;
  if (code == STATUS_OK) return view;
  view.error = true;
  view.panel = StatusView::Panel::kError;
  view.panelShown = true;
  view.switchShown = false;
  view.warningShown = true;
  switch (code) {
    case STATUS_RENDERING_SERVER_ERROR:
      view.heading = "There is an error contacting the configured Rendering Server";
      view.state = StatusView::StateWord::kHidden;
      break;
    case STATUS_NOT_ENABLED:
      view.heading = "Error activating RYX";
      view.state = StatusView::StateWord::kDisabled;
      break;
    case STATUS_NOT_FUNCTIONING:
    case STATUS_GRID_LIBRARY_MISSING:
      view.heading = "RYX is not functioning correctly";
      view.panel = StatusView::Panel::kNotFunctioning;
      view.switchShown = true;
      view.warningShown = false;
      // Without GRID in use the missing library is no error.
      if (code == STATUS_GRID_LIBRARY_MISSING && !gridInUse) view.error = view.panelShown = false;
      break;
    default:  // STATUS_SWITCH_ON_FAILED and any code without a meaning here
      view.heading = "There was an error switching on RYX";
      break;
  }
  return view;
}

}  // namespace ryx
