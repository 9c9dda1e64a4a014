// SPDX-License-Identifier: MIT
#include "ui/ryx-console-legal-notices-dialog.h"

#include <string>

#include "common/ryx_gcommon.h"
#include "common/ryx_strfunc.h"
#include "ui/ryx-ui-private.h"

namespace {

// Pango's "x-large" factor, 1.2 squared.
constexpr double kTitleScale = 1.4399999999999;
// Blanks before each heading, and the underlined blanks of the rule below it.
constexpr int kHeadingIndent = 24;
constexpr int kRuleWidth = 104;

}  // namespace

struct _RyxConsoleLegalNoticesDialog {
  GtkDialog parent_instance;
};

G_DEFINE_FINAL_TYPE(RyxConsoleLegalNoticesDialog, ryx_console_legal_notices_dialog, GTK_TYPE_DIALOG)

// The notices are expected in UTF-8; a stray byte is shown as U+FFFD rather
// than making the text buffer refuse the whole text.
static char *as_utf8(char *text) {
  if (g_utf8_validate(text, -1, nullptr)) return text;
  char *valid = g_utf8_make_valid(text, -1);
  g_free(text);
  return valid;
}

// Reads a whole file; null when it cannot be read.
static char *read_text(const char *folder, const char *entry, const char *name) {
  g_autofree char *path = g_build_filename(folder, entry, name, nullptr);
  char *contents = nullptr;
  if (!g_file_get_contents(path, &contents, nullptr, nullptr)) return nullptr;
  return as_utf8(contents);
}

static void add_component(GtkTextBuffer *buffer, GtkTextTag *title_tag, GtkTextTag *rule_tag, const char *folder,
                          const char *entry) {
  char *version = read_text(folder, entry, "version.txt");
  if (version == nullptr) {
    version = g_strdup("");
  } else if (version[0] != '\0') {
    // The last character is the line end that ends the file (whatever it
    // really is).
    *g_utf8_find_prev_char(version, version + strlen(version)) = '\0';
  }
  g_autofree char *notice = read_text(folder, entry, "license.txt");
  if (notice == nullptr) {
    g_free(version);
    return;
  }

  GtkTextIter iter;
  gtk_text_buffer_get_end_iter(buffer, &iter);
  g_autofree char *heading = g_strdup_printf("%*s%s %s\n", kHeadingIndent, "", entry, version);
  gtk_text_buffer_insert_with_tags(buffer, &iter, heading, -1, title_tag, nullptr);

  gtk_text_buffer_get_end_iter(buffer, &iter);
  std::string rule = std::string(kRuleWidth, ' ') + "\n\n";
  gtk_text_buffer_insert_with_tags(buffer, &iter, rule.c_str(), -1, rule_tag, nullptr);

  gtk_text_buffer_get_end_iter(buffer, &iter);
  gtk_text_buffer_insert(buffer, &iter, notice, -1);
  gtk_text_buffer_insert(buffer, &iter, "\n", -1);
  g_free(version);
}

static void ryx_console_legal_notices_dialog_response(GtkDialog *dialog, gint response_id) {
  (void)response_id;
  gtk_widget_destroy(GTK_WIDGET(dialog));
}

static void ryx_console_legal_notices_dialog_class_init(RyxConsoleLegalNoticesDialogClass *klass) {
  GTK_DIALOG_CLASS(klass)->response = ryx_console_legal_notices_dialog_response;
}

static void ryx_console_legal_notices_dialog_init(RyxConsoleLegalNoticesDialog *self) {
  GtkDialog *dialog = GTK_DIALOG(self);
  GtkWindow *window = GTK_WINDOW(self);

  gtk_window_set_title(window, "Vezo RYX Legal Notices");
  gtk_window_set_modal(window, TRUE);
  gtk_window_set_default_size(window, 800, 600);
  gtk_window_set_destroy_with_parent(window, TRUE);

  // The action area is reached through its button (its accessor is
  // deprecated).
  GtkWidget *close = gtk_dialog_add_button(dialog, "_Close", GTK_RESPONSE_CANCEL);
  ryx_ui_set_action_area(dialog, close, 5, 6);

  GtkWidget *outer = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(dialog)), outer, TRUE, TRUE, 0);

  g_autofree char *root = ryx_get_root();
  g_autofree char *folder = g_build_filename(root, "legal-notices", nullptr);
  g_autoptr(GError) error = nullptr;
  GDir *listing = g_dir_open(folder, 0, &error);
  if (listing == nullptr) {
    g_warning("Could not open the legal notices directory: %s", error->message);
    return;  // the outer box stays hidden: only the Close button shows
  }

  GtkWidget *scrolled = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_widget_set_hexpand(scrolled, TRUE);
  gtk_widget_set_vexpand(scrolled, TRUE);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
  gtk_container_add(GTK_CONTAINER(outer), scrolled);

  GtkWidget *view = gtk_text_view_new();
  gtk_text_view_set_editable(GTK_TEXT_VIEW(view), FALSE);
  gtk_text_view_set_left_margin(GTK_TEXT_VIEW(view), 20);
  // Without a horizontal scroll bar a long notice line would widen the
  // window past the screen; such lines wrap instead.
  gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_WORD_CHAR);
  gtk_container_add(GTK_CONTAINER(scrolled), view);

  GtkTextBuffer *buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(view));
  GtkTextTag *title_tag =
      gtk_text_buffer_create_tag(buffer, nullptr, "weight", PANGO_WEIGHT_BOLD, "scale", kTitleScale, nullptr);
  GtkTextTag *rule_tag = gtk_text_buffer_create_tag(buffer, nullptr, "underline", PANGO_UNDERLINE_SINGLE, nullptr);

  // In the order the listing gives them, unsorted and unfiltered: an entry
  // that is no folder has no license.txt and drops out by itself.
  for (const char *entry = g_dir_read_name(listing); entry != nullptr; entry = g_dir_read_name(listing))
    add_component(buffer, title_tag, rule_tag, folder, entry);

  gtk_widget_show_all(outer);
  g_dir_close(listing);
}
