// SPDX-License-Identifier: MIT
// The legal notices window, filled from a legal-notices folder written by
// each case.
#include "ui/ryx-console-legal-notices-dialog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "ui_fixture.h"

namespace ryx::test {
namespace {

class LegalNoticesTest : public UiFixture {
 protected:
  ~LegalNoticesTest() override {
    if (dialog_ != nullptr) gtk_widget_destroy(dialog_);
  }

  void component(const std::string &name, const char *version, const char *licence) {
    mkdir(noticesDir().c_str(), 0700);
    mkdir((noticesDir() + "/" + name).c_str(), 0700);
    if (version != nullptr) writeFile(noticesDir() + "/" + name + "/version.txt", version);
    if (licence != nullptr) writeFile(noticesDir() + "/" + name + "/license.txt", licence);
  }

  void open() {
    dialog_ = GTK_WIDGET(g_object_new(RYX_TYPE_CONSOLE_LEGAL_NOTICES_DIALOG, nullptr));
    g_signal_connect(dialog_, "destroy", G_CALLBACK(gtk_widget_destroyed), &dialog_);
    gtk_widget_show(dialog_);
  }

  GtkTextView *view() {
    std::vector<GtkWidget *> views = findWidgets(dialog_, GTK_TYPE_TEXT_VIEW);
    EXPECT_EQ(views.size(), 1u);
    return views.empty() ? nullptr : GTK_TEXT_VIEW(views[0]);
  }

  std::string text() {
    GtkTextBuffer *buffer = gtk_text_view_get_buffer(view());
    GtkTextIter start, end;
    gtk_text_buffer_get_bounds(buffer, &start, &end);
    g_autofree char *all = gtk_text_buffer_get_text(buffer, &start, &end, TRUE);
    return all;
  }

  GtkWidget *dialog_ = nullptr;
};

// One heading and notice per folder with a licence, in listing order.  The
// heading is the folder's name and version.txt less its last character (a
// whole one where it is multi-byte); a licence that is no UTF-8 is shown,
// not refused.
TEST_F(LegalNoticesTest, ShowsEveryComponentWithALicenceInListingOrder) {
  const struct {
    const char *name, *version, *licence;  // null: no such file
    const char *heading, *notice;
  } cases[] = {
      {"zlib", "2.74.6\n", "Z licence", "zlib 2.74.6\n", "Z licence"},
      {"GTK", "1.2", "G licence", "GTK 1.\n", "G licence"},
      {"none", nullptr, "N licence", "none \n", "N licence"},
      {"empty", "", "E licence", "empty \n", "E licence"},
      {"accent", "1.0\xc3\xa9", "A licence", "accent 1.0\n", "A licence"},
      {"bytes", "1\n", "caf\xe9 licence", "bytes 1\n", "caf\xef\xbf\xbd licence"},
  };
  for (const auto &c : cases) component(c.name, c.version, c.licence);
  component("no-licence", "1\n", nullptr);
  writeFile(noticesDir() + "/plain-file", "not a folder");
  GLogCapture logs;
  open();
  const std::string shown = text();
  size_t last = 0;
  for (const std::string &name : listFolder(noticesDir())) {
    for (const auto &c : cases) {
      if (name != c.name) continue;
      size_t heading = shown.find(c.heading);
      ASSERT_NE(heading, std::string::npos) << c.heading << " in " << shown;
      EXPECT_GT(heading, last) << c.heading << " out of the listing's order";
      EXPECT_NE(shown.find(c.notice, heading), std::string::npos) << c.notice;
      last = heading;
    }
  }
  EXPECT_EQ(shown.find("no-licence"), std::string::npos);
  EXPECT_EQ(shown.find("plain-file"), std::string::npos);
  for (const LogRecord &record : logs.records()) EXPECT_GT(record.level, G_LOG_LEVEL_WARNING) << record.message;
}

// A long notice line wraps instead of widening the window past the
// screen, and a long notice scrolls.
TEST_F(LegalNoticesTest, LongNoticesWrapAndScroll) {
  std::string licence = std::string(3000, 'x') + "\n";
  for (int i = 0; i < 300; i++) licence += "line\n";
  component("long", "1\n", licence.c_str());
  open();
  ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(view())); }));
  spinFor(100);
  GdkRectangle screen;
  gdk_monitor_get_geometry(gdk_display_get_monitor(gtk_widget_get_display(dialog_), 0), &screen);
  EXPECT_LE(gtk_widget_get_allocated_width(dialog_), screen.width);
  GtkAdjustment *vertical = gtk_scrollable_get_vadjustment(GTK_SCROLLABLE(view()));
  EXPECT_GT(gtk_adjustment_get_upper(vertical), gtk_adjustment_get_page_size(vertical));
  EXPECT_LE(gtk_widget_get_allocated_height(dialog_), screen.height);
}

// Without the folder: a warning, and only the Close button shows.  An
// empty folder gives an empty text, still shown.
TEST_F(LegalNoticesTest, WithoutNoticesTheWindowStillOpens) {
  g_autoptr(GError) expected = nullptr;
  EXPECT_EQ(g_dir_open(noticesDir().c_str(), 0, &expected), nullptr);
  GLogCapture logs;
  open();
  std::string warning = std::string("Could not open the legal notices directory: ") + expected->message;
  EXPECT_EQ(logs.count(warning, G_LOG_LEVEL_WARNING), 1) << logs.dump();
  EXPECT_TRUE(findWidgets(dialog_, GTK_TYPE_TEXT_VIEW).empty());
  EXPECT_TRUE(shownOnScreen(gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog_), GTK_RESPONSE_CANCEL)));
  gtk_widget_destroy(dialog_);

  mkdir(noticesDir().c_str(), 0700);
  open();
  EXPECT_EQ(text(), "");
  EXPECT_TRUE(shownOnScreen(GTK_WIDGET(view())));
}

}  // namespace
}  // namespace ryx::test
