// SPDX-License-Identifier: MIT
#include "ui/ryx-ui-private.h"

#include <string>

#include "common/ryx_gcommon.h"

namespace {

constexpr const char *kProviderKey = "ryx-background-provider";

// A 16-bit channel as a CSS percentage, with a '.' whatever the locale.
std::string percent(guint16 channel) {
  char buffer[G_ASCII_DTOSTR_BUF_SIZE];
  g_ascii_formatd(buffer, sizeof buffer, "%.4f", channel * 100.0 / 65535.0);
  return std::string(buffer) + "%";
}

std::string substitute(const char *format, const char *text) {
  std::string result(format);
  size_t at = result.find("%s");
  if (at != std::string::npos) result.replace(at, 2, text != nullptr ? text : "");
  return result;
}

bool is_markup(const std::string &text) {
  return pango_parse_markup(text.c_str(), -1, 0, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace

char *ryx_ui_image_path(const char *name) {
  g_autofree char *root = ryx_get_root();
  return g_build_filename(root, "share", "ryx", "images", name, nullptr);
}

void ryx_ui_set_background(GtkWidget *widget, guint16 red, guint16 green, guint16 blue) {
  GtkCssProvider *provider = GTK_CSS_PROVIDER(g_object_get_data(G_OBJECT(widget), kProviderKey));
  if (provider == nullptr) {
    provider = gtk_css_provider_new();
    gtk_style_context_add_provider(gtk_widget_get_style_context(widget), GTK_STYLE_PROVIDER(provider),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_set_data_full(G_OBJECT(widget), kProviderKey, provider, g_object_unref);
  }
  // In every state: a window in the background keeps its colours.
  std::string css = "* { background-image: none; background-color: rgb(" + percent(red) + ", " + percent(green) + ", " +
                    percent(blue) + "); }";
  gtk_css_provider_load_from_data(provider, css.c_str(), -1, nullptr);
}

void ryx_ui_set_action_area(GtkDialog *dialog, GtkWidget *button, guint border_width, gint spacing) {
  GtkWidget *action_area = gtk_widget_get_parent(button);
  gtk_container_set_border_width(GTK_CONTAINER(action_area), border_width);
  gtk_box_set_spacing(GTK_BOX(action_area), spacing);

  g_autoptr(GtkCssProvider) provider = gtk_css_provider_new();
  g_autofree char *css =
      g_strdup_printf("* { -GtkDialog-action-area-border: %u; -GtkDialog-button-spacing: %d; }", border_width, spacing);
  gtk_css_provider_load_from_data(provider, css, -1, nullptr);
  gtk_style_context_add_provider(gtk_widget_get_style_context(GTK_WIDGET(dialog)), GTK_STYLE_PROVIDER(provider),
                                 GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

char *ryx_ui_markup_with(const char *format, const char *text) {
  std::string markup = substitute(format, text);
  if (!is_markup(markup)) {
    g_autofree char *escaped = g_markup_escape_text(text != nullptr ? text : "", -1);
    markup = substitute(format, escaped);
  }
  return g_strdup(markup.c_str());
}

void ryx_ui_set_markup_with(GtkWidget *label, const char *format, const char *text) {
  g_autofree char *markup = ryx_ui_markup_with(format, text);
  gtk_label_set_markup(GTK_LABEL(label), markup);
}
