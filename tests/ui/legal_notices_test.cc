// SPDX-License-Identifier: MIT
// The legal notices window, filled from a legal-notices folder written by
// each case.
#include "ui/ryx-console-legal-notices-dialog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <string>

#include "ui_fixture.h"

namespace ryx::test {
namespace {

class LegalNoticesTest : public UiFixture {
 protected:
  ~LegalNoticesTest() override {
    if (dialog_ != nullptr) gtk_widget_destroy(dialog_);
  }
  void open() {
    dialog_ = GTK_WIDGET(g_object_new(RYX_TYPE_CONSOLE_LEGAL_NOTICES_DIALOG, nullptr));
    g_signal_connect(dialog_, "destroy", G_CALLBACK(gtk_widget_destroyed), &dialog_);
    gtk_widget_show(dialog_);
  }
  // The notices' text; "(no text)" without its view.
  std::string text() {
    std::vector<GtkWidget *> views = findWidgets(dialog_, GTK_TYPE_TEXT_VIEW);
    if (views.size() != 1 || !shownOnScreen(views[0])) return "(no text)";
    GtkTextBuffer *buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(views[0]));
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
      {"zlib", "2.74.6\n", "Z licence", "zlib 2.74.6", "Z licence"},
      {"GTK", "1.2", "G licence", "GTK 1.", "G licence"},
      {"none", nullptr, "N licence", "none ", "N licence"},
      {"empty", "", "E licence", "empty ", "E licence"},
      {"accent", "1.0\xc3\xa9", "A licence", "accent 1.0", "A licence"},
      {"bytes", "1\n", "caf\xe9 licence", "bytes 1", "caf\xef\xbf\xbd licence"},
      {"no-licence", "1\n", nullptr, nullptr, nullptr},
  };
  std::map<std::string, std::string> shownFor;
  mkdir(noticesDir().c_str(), 0700);
  for (const auto &c : cases) {
    std::string folder = noticesDir() + "/" + c.name;
    mkdir(folder.c_str(), 0700);
    if (c.version != nullptr) writeFile(folder + "/version.txt", c.version);
    if (c.licence != nullptr) writeFile(folder + "/license.txt", c.licence);
    if (c.licence != nullptr)
      shownFor[c.name] = std::string(24, ' ') + c.heading + "\n" + std::string(104, ' ') + "\n\n" + c.notice + "\n";
  }
  writeFile(noticesDir() + "/plain-file", "not a folder");
  std::string expected;
  for (const std::string &name : listFolder(noticesDir())) expected += shownFor[name];
  GLogCapture logs;
  open();
  EXPECT_EQ(text(), expected);
  for (const LogRecord &record : logs.records()) EXPECT_GT(record.level, G_LOG_LEVEL_WARNING) << record.message;
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
  EXPECT_EQ(text(), "(no text)");
  EXPECT_TRUE(shownOnScreen(gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog_), GTK_RESPONSE_CANCEL)));
  gtk_widget_destroy(dialog_);
  mkdir(noticesDir().c_str(), 0700);
  open();
  EXPECT_EQ(text(), "");
}

}  // namespace
}  // namespace ryx::test
