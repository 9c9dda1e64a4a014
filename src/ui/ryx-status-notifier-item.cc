// SPDX-License-Identifier: MIT
// The StatusNotifierItem is built on GIO's D-Bus API directly.  Every call to
// the bus is asynchronous with a deadline, so a silent watcher or bus never
// holds up the program's one thread.
#include "ui/ryx-status-notifier-item.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <initializer_list>

#include "common/ryx_gcommon.h"
#include "common/ryx_strfunc.h"
#include "platform/system.h"

namespace {

constexpr const char *kWatcherName = "org.kde.StatusNotifierWatcher";
constexpr const char *kWatcherPath = "/StatusNotifierWatcher";
constexpr const char *kItemPath = "/StatusNotifierItem";
constexpr int kCallTimeoutMs = 2000;  // a watcher that does not answer in 2 s did not accept us

constexpr const char *kItemXml =
    "<node>"
    " <interface name='org.kde.StatusNotifierItem'>"
    "  <property name='Category' type='s' access='read'/>"
    "  <property name='Id' type='s' access='read'/>"
    "  <property name='Title' type='s' access='read'/>"
    "  <property name='Status' type='s' access='read'/>"
    "  <property name='IconName' type='s' access='read'/>"
    "  <property name='IconPixmap' type='a(iiay)' access='read'/>"
    "  <property name='ToolTip' type='(sa(iiay)ss)' access='read'/>"
    "  <property name='ItemIsMenu' type='b' access='read'/>"
    "  <method name='Activate'>"
    "   <arg name='x' type='i' direction='in'/><arg name='y' type='i' direction='in'/>"
    "  </method>"
    "  <method name='SecondaryActivate'>"
    "   <arg name='x' type='i' direction='in'/><arg name='y' type='i' direction='in'/>"
    "  </method>"
    "  <method name='ContextMenu'>"
    "   <arg name='x' type='i' direction='in'/><arg name='y' type='i' direction='in'/>"
    "  </method>"
    "  <method name='Scroll'>"
    "   <arg name='delta' type='i' direction='in'/><arg name='orientation' type='s' direction='in'/>"
    "  </method>"
    "  <signal name='NewTitle'/>"
    "  <signal name='NewIcon'/>"
    "  <signal name='NewToolTip'/>"
    "  <signal name='NewStatus'><arg name='status' type='s'/></signal>"
    " </interface>"
    "</node>";

GDBusInterfaceInfo *item_interface_info() {
  static GDBusNodeInfo *node = g_dbus_node_info_new_for_xml(kItemXml, nullptr);  // kept for the process
  return node->interfaces[0];
}

}  // namespace

struct _RyxStatusNotifierItem {
  GObject parent_instance;

  GCancellable *cancellable;    // the pending bus calls; cancelled at dispose
  GDBusConnection *connection;  // the session bus, once it answered
  guint object_id;              // the exported item
  guint own_id;                 // our well-known name
  guint watch_id;               // the watch on the watcher's name
  char *bus_name;
  char *id;
  char *title;
  char *tooltip;
  GVariant *pixmaps;  // a(iiay)
  gboolean name_acquired;
  gboolean watcher_present;
  gboolean registered;
};

G_DEFINE_FINAL_TYPE(RyxStatusNotifierItem, ryx_status_notifier_item, G_TYPE_OBJECT)

enum { ACTIVATE, WATCHER_CHANGED, N_SIGNALS };
static guint signals[N_SIGNALS];

GVariant *ryx_status_notifier_item_pixmaps_from_file(const char *path) {
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE("a(iiay)"));
  g_autoptr(GdkPixbuf) image = gdk_pixbuf_new_from_file(path, nullptr);
  if (image == nullptr) return g_variant_builder_end(&builder);

  // The usual panel sizes below the image's own, then the image itself;
  // hosts pick the nearest.
  const int native = gdk_pixbuf_get_width(image);
  for (int size : {16, 22, 24, 32, 0}) {
    if (size >= native) continue;
    g_autoptr(GdkPixbuf) scaled =
        size == 0 ? GDK_PIXBUF(g_object_ref(image))
                  : gdk_pixbuf_scale_simple(image, size, MAX(1, size * gdk_pixbuf_get_height(image) / native),
                                            GDK_INTERP_BILINEAR);
    const int width = gdk_pixbuf_get_width(scaled), height = gdk_pixbuf_get_height(scaled);
    const int channels = gdk_pixbuf_get_n_channels(scaled), stride = gdk_pixbuf_get_rowstride(scaled);
    const gboolean alpha = gdk_pixbuf_get_has_alpha(scaled);
    const guint8 *pixels = gdk_pixbuf_read_pixels(scaled);
    g_autofree guint8 *argb = (guint8 *)g_malloc((gsize)width * height * 4);
    guint8 *out = argb;
    for (int y = 0; y < height; ++y) {
      const guint8 *in = pixels + (gsize)y * stride;
      for (int x = 0; x < width; ++x, in += channels) {
        // One 32-bit ARGB word per pixel, most significant byte first.
        *out++ = alpha ? in[3] : 0xff;
        *out++ = in[0];
        *out++ = in[1];
        *out++ = in[2];
      }
    }
    GVariant *data = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, argb, (gsize)width * height * 4, 1);
    g_variant_builder_add(&builder, "(ii@ay)", width, height, data);
  }
  return g_variant_builder_end(&builder);
}

static void emit_item_signal(RyxStatusNotifierItem *self, const char *name) {
  if (self->object_id == 0) return;  // hosts read everything when the item registers
  g_dbus_connection_emit_signal(self->connection, nullptr, kItemPath, "org.kde.StatusNotifierItem", name, nullptr,
                                nullptr);
}

static void handle_method_call(GDBusConnection *, const char *, const char *, const char *, const char *method,
                               GVariant *, GDBusMethodInvocation *invocation, gpointer user_data) {
  RyxStatusNotifierItem *self = RYX_STATUS_NOTIFIER_ITEM(user_data);
  g_dbus_method_invocation_return_value(invocation, nullptr);
  // The item has no menu, so every kind of click activates it, as a click on
  // the tray icon does: hosts differ in what they send (some send
  // ContextMenu for a left click, SecondaryActivate for a middle one).
  // There is nothing to scroll.
  if (g_strcmp0(method, "Scroll") != 0) g_signal_emit(self, signals[ACTIVATE], 0);
}

static GVariant *handle_get_property(GDBusConnection *, const char *, const char *, const char *, const char *property,
                                     GError **error, gpointer user_data) {
  RyxStatusNotifierItem *self = RYX_STATUS_NOTIFIER_ITEM(user_data);
  if (g_strcmp0(property, "Category") == 0) return g_variant_new_string("ApplicationStatus");
  if (g_strcmp0(property, "Id") == 0) return g_variant_new_string(self->id);
  if (g_strcmp0(property, "Title") == 0) return g_variant_new_string(self->title);
  if (g_strcmp0(property, "Status") == 0) return g_variant_new_string("Active");
  if (g_strcmp0(property, "IconName") == 0) return g_variant_new_string("");
  if (g_strcmp0(property, "IconPixmap") == 0) return g_variant_ref(self->pixmaps);
  if (g_strcmp0(property, "ItemIsMenu") == 0) return g_variant_new_boolean(FALSE);
  if (g_strcmp0(property, "ToolTip") == 0)
    return g_variant_new("(s@a(iiay)ss)", "", g_variant_new_array(G_VARIANT_TYPE("(iiay)"), nullptr, 0), self->tooltip,
                         "");
  g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "No property %s", property);
  return nullptr;
}

static const GDBusInterfaceVTable item_vtable = {handle_method_call, handle_get_property, nullptr, {}};

static void on_registered(GObject *source, GAsyncResult *result, gpointer user_data) {
  g_autoptr(GError) error = nullptr;
  g_autoptr(GVariant) reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
  if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) return;  // the item is gone
  RyxStatusNotifierItem *self = RYX_STATUS_NOTIFIER_ITEM(user_data);
  if (reply == nullptr) {
    RYX_LOG(G_LOG_LEVEL_WARNING, "The StatusNotifierWatcher did not take the status icon: %s", error->message);
    return;
  }
  // A reply that outlived its watcher counts for nothing.
  self->registered = self->watcher_present;
}

static void register_with_watcher(RyxStatusNotifierItem *self) {
  if (!self->watcher_present || !self->name_acquired) return;
  g_dbus_connection_call(self->connection, kWatcherName, kWatcherPath, kWatcherName, "RegisterStatusNotifierItem",
                         g_variant_new("(s)", self->bus_name), nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, kCallTimeoutMs,
                         self->cancellable, on_registered, self);
}

static void on_name_acquired(GDBusConnection *, const char *, gpointer user_data) {
  RyxStatusNotifierItem *self = RYX_STATUS_NOTIFIER_ITEM(user_data);
  self->name_acquired = TRUE;
  register_with_watcher(self);
}

static void on_name_lost(GDBusConnection *, const char *name, gpointer user_data) {
  RyxStatusNotifierItem *self = RYX_STATUS_NOTIFIER_ITEM(user_data);
  if (self->name_acquired) RYX_LOG(G_LOG_LEVEL_WARNING, "Lost the bus name %s", name);
  self->name_acquired = FALSE;
  self->registered = FALSE;
}

static void on_watcher_appeared(GDBusConnection *, const char *, const char *, gpointer user_data) {
  RyxStatusNotifierItem *self = RYX_STATUS_NOTIFIER_ITEM(user_data);
  self->watcher_present = TRUE;
  self->registered = FALSE;  // a new watcher knows nothing of us
  register_with_watcher(self);
  g_signal_emit(self, signals[WATCHER_CHANGED], 0);
}

static void on_watcher_vanished(GDBusConnection *, const char *, gpointer user_data) {
  RyxStatusNotifierItem *self = RYX_STATUS_NOTIFIER_ITEM(user_data);
  self->watcher_present = FALSE;
  self->registered = FALSE;
  g_signal_emit(self, signals[WATCHER_CHANGED], 0);
}

static void on_bus(GObject *, GAsyncResult *result, gpointer user_data) {
  g_autoptr(GError) error = nullptr;
  GDBusConnection *connection = g_bus_get_finish(result, &error);
  if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) return;  // the item is gone
  RyxStatusNotifierItem *self = RYX_STATUS_NOTIFIER_ITEM(user_data);
  if (connection == nullptr) {
    RYX_LOG(G_LOG_LEVEL_INFO, "No session bus for a StatusNotifierItem: %s", error->message);
    g_signal_emit(self, signals[WATCHER_CHANGED], 0);
    return;
  }
  self->connection = connection;
  // The bus going away ends our items, not the program.
  g_dbus_connection_set_exit_on_close(connection, FALSE);
  self->object_id = g_dbus_connection_register_object(connection, kItemPath, item_interface_info(), &item_vtable, self,
                                                      nullptr, &error);
  if (self->object_id == 0) {
    RYX_LOG(G_LOG_LEVEL_WARNING, "Cannot export the StatusNotifierItem: %s", error->message);
    g_signal_emit(self, signals[WATCHER_CHANGED], 0);
    return;
  }
  self->own_id = g_bus_own_name_on_connection(connection, self->bus_name, G_BUS_NAME_OWNER_FLAGS_DO_NOT_QUEUE,
                                              on_name_acquired, on_name_lost, self, nullptr);
  // The watch reports at once whether a watcher is there, then each change.
  self->watch_id = g_bus_watch_name_on_connection(connection, kWatcherName, G_BUS_NAME_WATCHER_FLAGS_NONE,
                                                  on_watcher_appeared, on_watcher_vanished, self, nullptr);
}

static void ryx_status_notifier_item_dispose(GObject *object) {
  RyxStatusNotifierItem *self = RYX_STATUS_NOTIFIER_ITEM(object);
  g_cancellable_cancel(self->cancellable);
  g_clear_object(&self->cancellable);
  g_clear_handle_id(&self->watch_id, g_bus_unwatch_name);
  // Giving up the name is what tells the watcher that the item is gone.
  g_clear_handle_id(&self->own_id, g_bus_unown_name);
  if (self->object_id != 0) {
    g_dbus_connection_unregister_object(self->connection, self->object_id);
    self->object_id = 0;
  }
  g_clear_object(&self->connection);
  self->watcher_present = self->registered = FALSE;
  G_OBJECT_CLASS(ryx_status_notifier_item_parent_class)->dispose(object);
}

static void ryx_status_notifier_item_finalize(GObject *object) {
  RyxStatusNotifierItem *self = RYX_STATUS_NOTIFIER_ITEM(object);
  g_free(self->bus_name);
  g_free(self->id);
  g_free(self->title);
  g_free(self->tooltip);
  g_clear_pointer(&self->pixmaps, g_variant_unref);
  G_OBJECT_CLASS(ryx_status_notifier_item_parent_class)->finalize(object);
}

static void ryx_status_notifier_item_class_init(RyxStatusNotifierItemClass *klass) {
  GObjectClass *object_class = G_OBJECT_CLASS(klass);
  object_class->dispose = ryx_status_notifier_item_dispose;
  object_class->finalize = ryx_status_notifier_item_finalize;
  signals[ACTIVATE] = g_signal_new("activate", G_TYPE_FROM_CLASS(klass), G_SIGNAL_RUN_LAST, 0, nullptr, nullptr,
                                   nullptr, G_TYPE_NONE, 0);
  signals[WATCHER_CHANGED] = g_signal_new("watcher-changed", G_TYPE_FROM_CLASS(klass), G_SIGNAL_RUN_LAST, 0, nullptr,
                                          nullptr, nullptr, G_TYPE_NONE, 0);
}

static void ryx_status_notifier_item_init(RyxStatusNotifierItem *self) {
  self->cancellable = g_cancellable_new();
  self->pixmaps = g_variant_ref_sink(g_variant_new_array(G_VARIANT_TYPE("(iiay)"), nullptr, 0));
  self->tooltip = g_strdup("");
}

// Whether GIO would find a session bus without starting one itself.
static gboolean session_has_bus() {
  const char *address = g_getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address != nullptr && *address != '\0') return TRUE;
  g_autofree char *socket = g_build_filename(g_get_user_runtime_dir(), "bus", nullptr);
  return g_file_test(socket, G_FILE_TEST_EXISTS);
}

RyxStatusNotifierItem *ryx_status_notifier_item_new(const char *id, const char *title) {
  if (!session_has_bus()) return nullptr;
  static guint serial;  // one name per item of the process
  RyxStatusNotifierItem *self = RYX_STATUS_NOTIFIER_ITEM(g_object_new(RYX_TYPE_STATUS_NOTIFIER_ITEM, nullptr));
  self->bus_name = g_strdup_printf("org.kde.StatusNotifierItem-%u-%u", ryx::platform::processId(), ++serial);
  self->id = g_strdup(id);
  self->title = g_strdup(title);
  g_bus_get(G_BUS_TYPE_SESSION, self->cancellable, on_bus, self);
  return self;
}

void ryx_status_notifier_item_set_icon_from_file(RyxStatusNotifierItem *self, const char *path) {
  g_return_if_fail(RYX_IS_STATUS_NOTIFIER_ITEM(self));
  g_clear_pointer(&self->pixmaps, g_variant_unref);
  self->pixmaps = g_variant_ref_sink(ryx_status_notifier_item_pixmaps_from_file(path));
  emit_item_signal(self, "NewIcon");
}

void ryx_status_notifier_item_set_tooltip(RyxStatusNotifierItem *self, const char *text) {
  g_return_if_fail(RYX_IS_STATUS_NOTIFIER_ITEM(self));
  if (g_strcmp0(self->tooltip, text) == 0) return;
  g_free(self->tooltip);
  self->tooltip = g_strdup(text);
  emit_item_signal(self, "NewToolTip");
}

gboolean ryx_status_notifier_item_get_watcher_present(RyxStatusNotifierItem *self) {
  g_return_val_if_fail(RYX_IS_STATUS_NOTIFIER_ITEM(self), FALSE);
  return self->watcher_present;
}

gboolean ryx_status_notifier_item_is_registered(RyxStatusNotifierItem *self) {
  g_return_val_if_fail(RYX_IS_STATUS_NOTIFIER_ITEM(self), FALSE);
  return self->registered;
}
