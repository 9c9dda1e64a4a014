// SPDX-License-Identifier: MIT
// What a code shows: whether it is published, and the icon's and window's view.
#include "state/status.h"

#include <gtest/gtest.h>

namespace ryx {
namespace {

TEST(Status, PublishingLeavesOutWhatTheSessionMakesMoot) {
  EXPECT_TRUE(isStatusPublished(STATUS_NOT_ENABLED, STATUS_OK, false, false));
  EXPECT_FALSE(isStatusPublished(STATUS_NOT_ENABLED, STATUS_OK, true, true));  // desktop capture
  EXPECT_TRUE(isStatusPublished(STATUS_GRID_LIBRARY_MISSING, STATUS_OK, true, false));
  EXPECT_FALSE(isStatusPublished(STATUS_NOT_FUNCTIONING, STATUS_OK, false, false));  // no 32-bit warning
  EXPECT_TRUE(isStatusPublished(STATUS_NOT_FUNCTIONING, STATUS_OK, false, true));
  EXPECT_FALSE(isStatusPublished(STATUS_OK, STATUS_RENDERING_SERVER_ERROR, false, true));  // waits for its check
}

TEST(Status, ViewOfEachKindOfCode) {
  using Panel = StatusView::Panel;
  using Word = StatusView::StateWord;
  const struct {
    int32_t code;
    bool grid;
    bool error, panelShown, switchShown;
    Panel panel;
    Word state;
    const char *heading;
  } cases[] = {
      {STATUS_OK, true, false, false, true, Panel::kNone, Word::kKept, nullptr},
      {STATUS_NOT_ENABLED, true, true, true, false, Panel::kError, Word::kDisabled, "Error activating RYX"},
      {STATUS_GRID_LIBRARY_MISSING, true, true, true, true, Panel::kNotFunctioning, Word::kKept,
       "RYX is not functioning correctly"},
      {STATUS_GRID_LIBRARY_MISSING, false, false, false, true, Panel::kNotFunctioning, Word::kKept,
       "RYX is not functioning correctly"},
      {STATUS_RENDERING_SERVER_ERROR, true, true, true, false, Panel::kError, Word::kHidden,
       "There is an error contacting the configured Rendering Server"},
      {42, true, true, true, false, Panel::kError, Word::kKept, "There was an error switching on RYX"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::to_string(c.code) + (c.grid ? " with GRID" : " without GRID"));
    StatusView view = statusViewOf(c.code, c.grid);
    EXPECT_EQ(view.error, c.error);
    EXPECT_EQ(view.panelShown, c.panelShown);
    EXPECT_EQ(view.switchShown, c.switchShown);
    EXPECT_EQ(view.warningShown, c.panel == Panel::kError);
    EXPECT_EQ(view.panel, c.panel);
    EXPECT_EQ(view.state, c.state);
    EXPECT_STREQ(view.heading, c.heading);
  }
}

}  // namespace
}  // namespace ryx
