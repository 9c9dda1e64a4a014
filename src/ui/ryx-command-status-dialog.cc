// SPDX-License-Identifier: MIT
#include "ui/ryx-command-status-dialog.h"

#include <initializer_list>

#include "apps/ryx-config-connected-app.h"
#include "common/ryx_gcommon.h"
#include "common/ryx_strfunc.h"
#include "integration/ryx-config-viewer.h"
#include "platform/session.h"
#include "state/commands.h"
#include "state/error_reporter.h"
#include "state/status.h"
#include "ui/ryx-build-info.h"
#include "ui/ryx-console-legal-notices-dialog.h"
#include "ui/ryx-ui-private.h"

namespace {

// A panel look: background (16-bit channels) and the text colour handed to
// Pango by name.
struct PanelLook {
  guint16 red, green, blue;
  const char *text_colour;
};
constexpr PanelLook kErrorLook = {40000, 0, 0, "white"};
constexpr PanelLook kNotFunctioningLook = {65535, 65535, 30000, "black"};
constexpr guint16 kWhite = 65535;

constexpr const char *kMakerNotice =
    "<span size=\"small\">© 2026 The RYX Configuration Utility developers.\n"
    "Free software under the MIT License; see Legal Notices.</span>";

// One legal notices window per process, whichever status window opened it.
GtkWidget *legal_notices_dialog = nullptr;

}  // namespace

struct _RyxCommandStatusDialog {
  GtkDialog parent_instance;

  GtkWidget *rs_caption_label;
  GtkWidget *rs_value_label;
  GtkWidget *users_row;
  GtkWidget *users_label;
  GtkWidget *status_caption_label;
  GtkWidget *status_combo;
  GtkWidget *warning_box;
  GtkWidget *state_label;
  GtkWidget *apps_box;
  GtkWidget *apps_view;
  GtkListStore *apps_store;  // own reference
  GtkWidget *error_frame;
  GtkWidget *error_event_box;
  GtkWidget *error_title_label;
  GtkWidget *error_text_label;
  GtkWidget *grid_note_label;
  ryx::Commands *commands;  // borrowed
  gboolean desktop_capture;
  gulong changed_handler_id;
  guint32 shown_code;
};

G_DEFINE_FINAL_TYPE(RyxCommandStatusDialog, ryx_command_status_dialog, GTK_TYPE_DIALOG)

static void on_status_combo_changed(GtkComboBox *combo, RyxCommandStatusDialog *self);

// ---- construction ----------------------------------------------------------

// Shown unless created hidden, as the tree is built widget by widget.
static GtkWidget *shown(GtkWidget *widget) {
  gtk_widget_show(widget);
  return widget;
}

// A label aligned left and vertically centred.
static GtkWidget *new_label(const char *text) {
  GtkWidget *label = gtk_label_new(text);
  gtk_label_set_xalign(GTK_LABEL(label), 0.0);
  gtk_label_set_yalign(GTK_LABEL(label), 0.5);
  return label;
}

static GtkWidget *new_markup_label(const char *markup) {
  GtkWidget *label = new_label(nullptr);
  gtk_label_set_markup(GTK_LABEL(label), markup);
  return label;
}

static void pack(GtkWidget *box, GtkWidget *child, gboolean expand, gboolean fill) {
  gtk_box_pack_start(GTK_BOX(box), child, expand, fill, 0);
}

static GtkWidget *build_header(void) {
  GtkWidget *header = shown(gtk_event_box_new());
  gtk_widget_set_name(header, "header");
  ryx_ui_set_background(header, kWhite, kWhite, kWhite);

  GtkWidget *row = shown(gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6));
  gtk_container_set_border_width(GTK_CONTAINER(row), 12);
  gtk_container_add(GTK_CONTAINER(header), row);

  GtkWidget *text_column = shown(gtk_box_new(GTK_ORIENTATION_VERTICAL, 6));
  pack(row, text_column, TRUE, TRUE);

  GtkWidget *title_block = shown(gtk_box_new(GTK_ORIENTATION_VERTICAL, 0));
  pack(text_column, title_block, TRUE, TRUE);
  pack(title_block, shown(new_markup_label("<span size=\"large\"><b>Vezo Lumora</b></span>")), FALSE, FALSE);
  g_autofree char *version = g_strdup_printf("Version %s (r%s)", RYX_PRODUCT_VERSION, RYX_BUILD_REVISION);
  GtkWidget *version_label = shown(new_label(version));
  gtk_widget_set_name(version_label, "version_label");
  pack(title_block, version_label, FALSE, FALSE);

  pack(text_column, shown(new_markup_label(kMakerNotice)), FALSE, FALSE);

  g_autofree char *logo_path = ryx_ui_image_path("ryx_logo_console.png");
  GtkWidget *logo = shown(gtk_image_new_from_file(logo_path));
  gtk_widget_set_name(logo, "logo");
  pack(row, logo, FALSE, FALSE);
  return header;
}

static GtkWidget *build_server_table(RyxCommandStatusDialog *self) {
  GtkWidget *grid = shown(gtk_grid_new());
  gtk_grid_set_column_spacing(GTK_GRID(grid), 6);
  gtk_grid_set_row_spacing(GTK_GRID(grid), 6);

  gtk_grid_attach(GTK_GRID(grid), shown(new_label("Application Server:")), 0, 0, 1, 1);
  GtkWidget *host = shown(new_label(nullptr));
  gtk_widget_set_name(host, "host_label");
  ryx_ui_set_markup_with(host, "<b>%s</b>", g_get_host_name());
  gtk_grid_attach(GTK_GRID(grid), host, 1, 0, 1, 1);

  self->rs_caption_label = new_label("");
  gtk_grid_attach(GTK_GRID(grid), self->rs_caption_label, 0, 1, 1, 1);
  self->rs_value_label = new_label("");
  gtk_grid_attach(GTK_GRID(grid), self->rs_value_label, 1, 1, 1, 1);
  return grid;
}

static GtkWidget *build_users_row(RyxCommandStatusDialog *self) {
  self->users_row = shown(gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6));
  pack(self->users_row, shown(new_label("Connected Users:")), FALSE, FALSE);
  self->users_label = shown(new_label("0"));
  pack(self->users_row, self->users_label, FALSE, FALSE);
  // In a remote-desktop session the VNC viewers are not the user's concern.
  if (ryx::platform::isRemoteSession()) gtk_widget_hide(self->users_row);
  return self->users_row;
}

static GtkWidget *build_status_row(RyxCommandStatusDialog *self) {
  GtkWidget *row = shown(gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6));

  self->status_caption_label = shown(new_label("RYX Status:"));
  pack(row, self->status_caption_label, FALSE, FALSE);

  self->status_combo = shown(gtk_combo_box_text_new());
  gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(self->status_combo), "Switched ON");
  gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(self->status_combo), "Switched OFF");
  gtk_combo_box_set_active(GTK_COMBO_BOX(self->status_combo), 0);
  self->changed_handler_id = g_signal_connect(self->status_combo, "changed", G_CALLBACK(on_status_combo_changed), self);
  pack(row, self->status_combo, FALSE, FALSE);

  self->warning_box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  pack(self->warning_box, shown(gtk_image_new_from_icon_name("dialog-warning-symbolic", GTK_ICON_SIZE_BUTTON)), FALSE,
       FALSE);
  self->state_label = shown(new_label(""));
  pack(self->warning_box, self->state_label, FALSE, FALSE);
  pack(row, self->warning_box, FALSE, FALSE);
  return row;
}

static GtkWidget *build_error_frame(RyxCommandStatusDialog *self) {
  self->error_frame = gtk_frame_new(nullptr);
  gtk_frame_set_shadow_type(GTK_FRAME(self->error_frame), GTK_SHADOW_IN);

  self->error_event_box = shown(gtk_event_box_new());
  ryx_ui_set_background(self->error_event_box, kErrorLook.red, kErrorLook.green, kErrorLook.blue);
  gtk_container_add(GTK_CONTAINER(self->error_frame), self->error_event_box);

  GtkWidget *panel = shown(gtk_box_new(GTK_ORIENTATION_VERTICAL, 6));
  gtk_container_set_border_width(GTK_CONTAINER(panel), 6);
  gtk_container_add(GTK_CONTAINER(self->error_event_box), panel);

  self->error_title_label = shown(new_label(""));
  self->error_text_label = shown(new_label(""));
  for (GtkWidget *label : {self->error_title_label, self->error_text_label}) {
    gtk_label_set_selectable(GTK_LABEL(label), TRUE);
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    pack(panel, label, FALSE, FALSE);
  }
  return self->error_frame;
}

static GtkWidget *build_apps_box(RyxCommandStatusDialog *self) {
  self->apps_box = shown(gtk_box_new(GTK_ORIENTATION_VERTICAL, 6));
  pack(self->apps_box, shown(new_markup_label("<b>Applications</b>")), FALSE, FALSE);

  GtkWidget *scrolled = shown(gtk_scrolled_window_new(nullptr, nullptr));
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scrolled), GTK_SHADOW_IN);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
  // GTK 3's scrolled window ignores its child's height request; without a
  // minimum of its own the list shows about three rows.
  gtk_scrolled_window_set_min_content_height(GTK_SCROLLED_WINDOW(scrolled), 150);
  pack(self->apps_box, scrolled, TRUE, TRUE);

  self->apps_store = gtk_list_store_new(2, G_TYPE_STRING, G_TYPE_STRING);
  self->apps_view = shown(gtk_tree_view_new_with_model(GTK_TREE_MODEL(self->apps_store)));
  gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(self->apps_view), FALSE);
  gtk_widget_set_size_request(self->apps_view, -1, 150);
  // One column as wide as the list: the name at the left, where it renders
  // at the right edge.  The name takes the room left over and is cut short
  // at its end, so a long one pushes no location out of view.
  GtkTreeViewColumn *column = gtk_tree_view_column_new();
  gtk_tree_view_column_set_title(column, "Name");
  gtk_tree_view_column_set_expand(column, TRUE);
  GtkCellRenderer *name_renderer = gtk_cell_renderer_text_new();
  g_object_set(name_renderer, "ellipsize", PANGO_ELLIPSIZE_END, nullptr);
  gtk_tree_view_column_pack_start(column, name_renderer, TRUE);
  gtk_tree_view_column_add_attribute(column, name_renderer, "text", 0);
  GtkCellRenderer *location_renderer = gtk_cell_renderer_text_new();
  gtk_tree_view_column_pack_end(column, location_renderer, FALSE);
  gtk_tree_view_column_add_attribute(column, location_renderer, "markup", 1);
  gtk_tree_view_append_column(GTK_TREE_VIEW(self->apps_view), column);
  gtk_container_add(GTK_CONTAINER(scrolled), self->apps_view);

  self->grid_note_label =
      new_markup_label("<span size=\"small\">Using NVIDIA GRID API for DirectX applications</span>");
  gtk_widget_set_sensitive(self->grid_note_label, FALSE);
  gtk_label_set_xalign(GTK_LABEL(self->grid_note_label), 1.0);
  pack(self->apps_box, self->grid_note_label, FALSE, TRUE);
  return self->apps_box;
}

// ---- refresh ---------------------------------------------------------------

static void set_capture_dependent_visibility(RyxCommandStatusDialog *self) {
  for (GtkWidget *widget : {self->apps_box, self->status_combo, self->status_caption_label})
    gtk_widget_set_visible(widget, !self->desktop_capture);
}

static void update_rendering_server_row(RyxCommandStatusDialog *self) {
  g_autofree char *server = ryx_conf_settings_get_rendering_server();
  gtk_widget_hide(self->grid_note_label);
  if (server != nullptr && server[0] != '\0') {
    gtk_label_set_text(GTK_LABEL(self->rs_caption_label), "External Rendering Server:");
    ryx_ui_set_markup_with(self->rs_value_label, "<b>%s</b>", server);
    gtk_widget_show(self->rs_caption_label);
    gtk_widget_show(self->rs_value_label);
  } else {
    if (ryx_conf_settings_get_use_nvidia_grid() && self->shown_code == 0) gtk_widget_show(self->grid_note_label);
    gtk_widget_hide(self->rs_caption_label);
    gtk_widget_hide(self->rs_value_label);
  }
}

static void change_status(RyxCommandStatusDialog *self) {
  ryx::ErrorReporter &reporter = ryx::ErrorReporter::instance();

  // The program's own setting of the switch writes nothing.
  g_signal_handler_block(self->status_combo, self->changed_handler_id);
  gtk_combo_box_set_active(GTK_COMBO_BOX(self->status_combo), reporter.ryxOn ? 0 : 1);
  g_signal_handler_unblock(self->status_combo, self->changed_handler_id);

  RYX_LOG(G_LOG_LEVEL_DEBUG, "Error code: %d, error message: %s", reporter.code,
          reporter.message != nullptr ? reporter.message : "");

  guint32 code = (guint32)reporter.code;
  if (code == 0) {
    if (self->shown_code == 0) return;
    self->shown_code = 0;
    set_capture_dependent_visibility(self);
    gtk_widget_hide(self->error_frame);
    gtk_widget_hide(self->warning_box);
    return;
  }

  // A code that stays keeps its first message on screen.
  if (code == self->shown_code) return;
  self->shown_code = code;

  const ryx::StatusView view = ryx::statusViewOf(reporter.code, ryx_conf_settings_get_use_nvidia_grid() != 0);
  const PanelLook *look = view.panel == ryx::StatusView::Panel::kNotFunctioning ? &kNotFunctioningLook : &kErrorLook;
  const char *heading = view.heading;
  gtk_widget_set_visible(self->apps_box, view.switchShown);
  gtk_widget_set_visible(self->status_combo, view.switchShown);
  gtk_widget_show(self->status_caption_label);
  gtk_widget_set_visible(self->error_frame, view.panelShown);
  gtk_widget_set_visible(self->warning_box, view.warningShown);
  if (view.state == ryx::StatusView::StateWord::kHidden) {
    gtk_widget_hide(self->state_label);
  } else if (view.state == ryx::StatusView::StateWord::kDisabled) {
    gtk_label_set_text(GTK_LABEL(self->state_label), "Disabled");
    // Once hidden by a code-100 display the word would never come back;
    // a later "Disabled" state is worth showing, so it is shown again.
    gtk_widget_show(self->state_label);
  }
  ryx_ui_set_background(self->error_event_box, look->red, look->green, look->blue);

  g_autofree char *title = g_strdup_printf("<span foreground=\"%s\"><b>%s:</b></span>", look->text_colour, heading);
  gtk_label_set_markup(GTK_LABEL(self->error_title_label), title);
  // The message may carry markup of its own; a code without a message shows
  // the heading alone.
  g_autofree char *text_format = g_strdup_printf("<span foreground=\"%s\">%%s</span>", look->text_colour);
  ryx_ui_set_markup_with(self->error_text_label, text_format, reporter.message != nullptr ? reporter.message : "");
}

// ---- user actions ----------------------------------------------------------

static void on_status_combo_changed(GtkComboBox *combo, RyxCommandStatusDialog *self) {
  // "Switched ON" is index 0; "Switched OFF" and no choice at all switch off.
  bool on = gtk_combo_box_get_active(combo) == 0;
  // Clears the status, re-runs the checks and writes "status", then the
  // same for "directXStatus", each only while the OpenGL wrapper is
  // installed.  A failed write is left to the next periodic check to show.
  if (self->commands != nullptr) (void)self->commands->switchRyx(on);
}

static void ryx_command_status_dialog_response(GtkDialog *dialog, gint response_id) {
  if (response_id != GTK_RESPONSE_HELP) {
    gtk_widget_destroy(GTK_WIDGET(dialog));
    return;
  }
  if (legal_notices_dialog == nullptr) {
    legal_notices_dialog = GTK_WIDGET(g_object_new(RYX_TYPE_CONSOLE_LEGAL_NOTICES_DIALOG, nullptr));
    gtk_window_set_transient_for(GTK_WINDOW(legal_notices_dialog), GTK_WINDOW(dialog));
    gtk_widget_show(legal_notices_dialog);
    g_signal_connect(legal_notices_dialog, "destroy", G_CALLBACK(gtk_widget_destroyed), &legal_notices_dialog);
  }
  gtk_window_present(GTK_WINDOW(legal_notices_dialog));
}

// ---- type ------------------------------------------------------------------

static void ryx_command_status_dialog_finalize(GObject *object) {
  RyxCommandStatusDialog *self = RYX_COMMAND_STATUS_DIALOG(object);
  g_clear_object(&self->apps_store);
  G_OBJECT_CLASS(ryx_command_status_dialog_parent_class)->finalize(object);
}

static void ryx_command_status_dialog_class_init(RyxCommandStatusDialogClass *klass) {
  G_OBJECT_CLASS(klass)->finalize = ryx_command_status_dialog_finalize;
  GTK_DIALOG_CLASS(klass)->response = ryx_command_status_dialog_response;
}

static void ryx_command_status_dialog_init(RyxCommandStatusDialog *self) {
  GtkDialog *dialog = GTK_DIALOG(self);

  gtk_window_set_title(GTK_WINDOW(self), "Vezo RYX Server Status");
  g_autofree char *icon_path = ryx_ui_image_path("icon.png");
  // A missing or broken icon file is ignored: the window keeps the default
  // icon, and the error taken here keeps GTK from warning about it.
  g_autoptr(GError) icon_error = nullptr;
  gtk_window_set_icon_from_file(GTK_WINDOW(self), icon_path, &icon_error);

  // The action area is reached through its buttons (its accessor is
  // deprecated).
  GtkWidget *close = gtk_dialog_add_button(dialog, "_Close", GTK_RESPONSE_CLOSE);
  gtk_dialog_add_button(dialog, "_Legal Notices", GTK_RESPONSE_HELP);
  ryx_ui_set_action_area(dialog, close, 5, 6);

  GtkWidget *main_box = shown(gtk_box_new(GTK_ORIENTATION_VERTICAL, 0));
  pack(gtk_dialog_get_content_area(dialog), main_box, TRUE, TRUE);
  pack(main_box, build_header(), FALSE, FALSE);
  pack(main_box, shown(gtk_separator_new(GTK_ORIENTATION_HORIZONTAL)), FALSE, FALSE);

  GtkWidget *body = shown(gtk_box_new(GTK_ORIENTATION_VERTICAL, 12));
  gtk_container_set_border_width(GTK_CONTAINER(body), 12);
  pack(main_box, body, TRUE, TRUE);
  pack(body, build_server_table(self), FALSE, FALSE);
  pack(body, build_users_row(self), FALSE, FALSE);
  pack(body, build_status_row(self), FALSE, FALSE);
  pack(body, build_error_frame(self), TRUE, TRUE);
  pack(body, build_apps_box(self), TRUE, TRUE);

  // Named after their fields, for style sheets and for tests that walk the
  // tree.
  const struct {
    GtkWidget *widget;
    const char *name;
  } named[] = {
      {self->rs_caption_label, "rs_caption_label"},
      {self->rs_value_label, "rs_value_label"},
      {self->users_row, "users_row"},
      {self->users_label, "users_label"},
      {self->status_caption_label, "status_caption_label"},
      {self->status_combo, "status_combo"},
      {self->warning_box, "warning_box"},
      {self->state_label, "state_label"},
      {self->apps_box, "apps_box"},
      {self->apps_view, "apps_view"},
      {self->error_frame, "error_frame"},
      {self->error_event_box, "error_event_box"},
      {self->error_title_label, "error_title_label"},
      {self->error_text_label, "error_text_label"},
      {self->grid_note_label, "grid_note_label"},
  };
  for (const auto &entry : named) gtk_widget_set_name(entry.widget, entry.name);

  update_rendering_server_row(self);
}

// ---- public ----------------------------------------------------------------

GtkWidget *ryx_command_status_dialog_new(ryx::Commands *commands, gboolean desktop_capture) {
  RyxCommandStatusDialog *self = RYX_COMMAND_STATUS_DIALOG(g_object_new(RYX_TYPE_COMMAND_STATUS_DIALOG, nullptr));
  self->commands = commands;
  self->desktop_capture = desktop_capture;
  set_capture_dependent_visibility(self);
  change_status(self);
  return GTK_WIDGET(self);
}

void ryx_command_status_dialog_refresh_status(RyxCommandStatusDialog *dlg) {
  g_return_if_fail(RYX_IS_COMMAND_STATUS_DIALOG(dlg));
  // The GRID note therefore follows the code shown by the previous refresh.
  update_rendering_server_row(dlg);
  change_status(dlg);
}

void ryx_command_status_dialog_refresh_apps(RyxCommandStatusDialog *dlg, GList *apps) {
  g_return_if_fail(RYX_IS_COMMAND_STATUS_DIALOG(dlg));

  gtk_list_store_clear(dlg->apps_store);
  g_autofree char *configured = ryx_conf_settings_get_rendering_server();
  bool have_configured = configured != nullptr && configured[0] != '\0';

  for (GList *l = apps; l != nullptr; l = l->next) {
    // A wrong entry meets the getters' own precondition checks.
    RyxConfigConnectedApp *app = (RyxConfigConnectedApp *)l->data;
    const char *name = ryx_config_connected_app_get_name(app);
    const char *server = ryx_config_connected_app_get_rendering_server(app);
    bool have_server = server != nullptr && server[0] != '\0';

    // Nothing to say when it renders where it should; otherwise where.
    g_autofree char *location = nullptr;
    if (have_server && !(have_configured && g_ascii_strcasecmp(server, configured) == 0))
      location = ryx_ui_markup_with("(Rendering on <i>%s</i>)", server);
    else if (!have_server && have_configured)
      location = g_strdup("(Local rendering)");
    else
      location = g_strdup("");

    RYX_LOG(G_LOG_LEVEL_DEBUG, "app name: %s", name != nullptr ? name : "(null)");
    gtk_list_store_insert_with_values(dlg->apps_store, nullptr, -1, 0, name != nullptr ? name : "Unnamed application",
                                      1, location, -1);
  }
}

void ryx_command_status_dialog_refresh_viewers(RyxCommandStatusDialog *dlg, GList *viewers) {
  g_return_if_fail(RYX_IS_COMMAND_STATUS_DIALOG(dlg));

  guint total = 0;
  int without_kestrane = 0;
  for (GList *l = viewers; l != nullptr; l = l->next, total++) {
    // A null entry counts too; the getter warns about it.
    if (!ryx_config_viewer_get_supports_rvn((const RyxConfigViewer *)l->data)) without_kestrane++;
  }

  GtkLabel *label = GTK_LABEL(dlg->users_label);
  g_autofree char *text = nullptr;
  if (without_kestrane == 0) {
    text = g_strdup_printf("%u", total);
    gtk_label_set_text(label, text);
  } else if ((guint)without_kestrane == total) {
    text = g_strdup_printf("%u <span size=\"small\">(without RYX Kestrane)</span>", total);
    gtk_label_set_markup(label, text);
  } else {
    text = g_strdup_printf("%u <span size=\"small\">(%d without RYX Kestrane)</span>", total, without_kestrane);
    gtk_label_set_markup(label, text);
  }
}
