// SPDX-License-Identifier: MIT
// The legal notices window, filled from a legal-notices folder written by
// each case.
#include "ui/ryx-console-legal-notices-dialog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

#include "ui_fixture.h"

namespace ryx::test {
namespace {

const std::string kIndent(24, ' ');
const std::string kRule(104, ' ');

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

  GtkWidget *open() {
    dialog_ = GTK_WIDGET(g_object_new(RYX_TYPE_CONSOLE_LEGAL_NOTICES_DIALOG, nullptr));
    g_signal_connect(dialog_, "destroy", G_CALLBACK(gtk_widget_destroyed), &dialog_);
    gtk_widget_show(dialog_);
    return dialog_;
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

  // The tags on the character at `offset`.
  std::vector<GtkTextTag *> tagsAt(int offset) {
    GtkTextIter iter;
    gtk_text_buffer_get_iter_at_offset(gtk_text_view_get_buffer(view()), &iter, offset);
    GSList *tags = gtk_text_iter_get_tags(&iter);
    std::vector<GtkTextTag *> result;
    for (GSList *l = tags; l != nullptr; l = l->next) result.push_back(GTK_TEXT_TAG(l->data));
    g_slist_free(tags);
    return result;
  }

  GtkWidget *dialog_ = nullptr;
};

// The window, and the one component's heading (bold, larger), underlined
// blank rule and plain text.
TEST_F(LegalNoticesTest, WindowShowsEachComponentAsHeadingRuleAndText) {
  component("alpha", "1.0\n", "Alpha licence text.\n");
  open();
  GtkWindow *window = GTK_WINDOW(dialog_);
  EXPECT_STREQ(gtk_window_get_title(window), "Vezo RYX Legal Notices");
  EXPECT_TRUE(gtk_window_get_modal(window));
  EXPECT_TRUE(gtk_window_get_destroy_with_parent(window));
  int width = 0, height = 0;
  gtk_window_get_default_size(window, &width, &height);
  EXPECT_EQ(std::make_pair(width, height), std::make_pair(800, 600));
  GtkWidget *close = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog_), GTK_RESPONSE_CANCEL);
  ASSERT_NE(close, nullptr);
  EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(close)), "_Close");
  EXPECT_FALSE(gtk_text_view_get_editable(view()));
  EXPECT_TRUE(shownOnScreen(GTK_WIDGET(view())));
  // Long lines must not widen the window.
  EXPECT_EQ(gtk_text_view_get_wrap_mode(view()), GTK_WRAP_WORD_CHAR);
  GtkPolicyType horizontal, vertical;
  gtk_scrolled_window_get_policy(GTK_SCROLLED_WINDOW(gtk_widget_get_parent(GTK_WIDGET(view()))), &horizontal,
                                 &vertical);
  EXPECT_EQ(horizontal, GTK_POLICY_NEVER);

  EXPECT_EQ(text(), kIndent + "alpha 1.0\n" + kRule + "\n\n" + "Alpha licence text.\n" + "\n");
  std::vector<GtkTextTag *> heading = tagsAt(0);
  ASSERT_EQ(heading.size(), 1u);
  int weight = 0;
  double scale = 0;
  g_object_get(heading[0], "weight", &weight, "scale", &scale, nullptr);
  EXPECT_EQ(weight, 700);
  EXPECT_NEAR(scale, 1.44, 1e-9);
  g_autofree char *tagName = nullptr;
  g_object_get(heading[0], "name", &tagName, nullptr);
  EXPECT_EQ(tagName, nullptr) << "anonymous tags";

  int ruleOffset = (int)(kIndent.size() + std::string("alpha 1.0\n").size());
  std::vector<GtkTextTag *> rule = tagsAt(ruleOffset);
  ASSERT_EQ(rule.size(), 1u);
  PangoUnderline underline = PANGO_UNDERLINE_NONE;
  g_object_get(rule[0], "underline", &underline, nullptr);
  EXPECT_EQ(underline, PANGO_UNDERLINE_SINGLE);
  EXPECT_EQ(tagsAt(ruleOffset + 103), rule) << "the whole rule is underlined";
  EXPECT_TRUE(tagsAt(ruleOffset + 106).empty()) << "the notice text is plain";
}

// One block per folder with a licence, in listing order.  The heading is
// the folder's name and version.txt less its last byte (a whole character
// where it ends in a multi-byte one); a licence that is no UTF-8 is shown,
// not refused.
TEST_F(LegalNoticesTest, TextHoldsEveryComponentWithALicenceInListingOrder) {
  const struct {
    const char *name, *version, *licence;  // null: no such file
    const char *shown;                     // the version in the heading
  } cases[] = {
      {"zlib", "2.74.6\n", "x", "2.74.6"},     {"GTK", "1.2", "x", "1."},
      {"alpha", "3.0\r\n", "x", "3.0\r"},      {"Mid", "", "x", ""},
      {"none", nullptr, "x", ""},              {"accent", "1.0\xc3\xa9", "x", "1.0"},
      {"bytes", "1\n", "caf\xe9 licence\n", "1"}, {"no-licence", "1\n", nullptr, nullptr},
  };
  std::map<std::string, std::string> blocks;
  for (const auto &c : cases) {
    component(c.name, c.version, c.licence);
    if (c.licence == nullptr) continue;
    std::string licence = std::string(c.name) == "bytes" ? "caf\xef\xbf\xbd licence\n" : c.licence;
    blocks[c.name] = kIndent + c.name + " " + c.shown + "\n" + kRule + "\n\n" + licence + "\n";
  }
  writeFile(noticesDir() + "/plain-file", "not a folder");
  std::string expected;
  for (const std::string &name : listFolder(noticesDir())) expected += blocks[name];
  GLogCapture logs;
  open();
  EXPECT_EQ(text(), expected);
  EXPECT_TRUE(logs.records().empty()) << logs.dump();
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
  EXPECT_EQ(logs.records().at(0).domain, "") << "the default log domain";
  EXPECT_TRUE(findWidgets(dialog_, GTK_TYPE_TEXT_VIEW).empty());
  GtkWidget *close = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog_), GTK_RESPONSE_CANCEL);
  ASSERT_NE(close, nullptr);
  EXPECT_TRUE(shownOnScreen(close));
  // Everything in the content area but the buttons' row stays hidden.
  GtkWidget *content = gtk_dialog_get_content_area(GTK_DIALOG(dialog_));
  g_autoptr(GList) children = gtk_container_get_children(GTK_CONTAINER(content));
  int hidden = 0;
  for (GList *l = children; l != nullptr; l = l->next) {
    if (gtk_widget_is_ancestor(close, GTK_WIDGET(l->data))) continue;
    EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(l->data))) << G_OBJECT_TYPE_NAME(l->data);
    hidden++;
  }
  EXPECT_EQ(hidden, 1) << "the outer box";
  gtk_widget_destroy(dialog_);

  mkdir(noticesDir().c_str(), 0700);
  open();
  EXPECT_EQ(text(), "");
  EXPECT_TRUE(shownOnScreen(GTK_WIDGET(view())));
}

}  // namespace
}  // namespace ryx::test
