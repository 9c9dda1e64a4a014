// SPDX-License-Identifier: MIT
// Stand-in for a desktop's StatusNotifierWatcher and its host: owns
// org.kde.StatusNotifierWatcher on the session bus, keeps the items that
// register, reads their properties and writes one line per event to
// standard output.  A second mode acts on the items of a running watcher
// (activate, dump) from the command line.  With --show it is also a
// panel: a small window with the items' icons, a click on one activating it.
#include <gio/gio.h>
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace {

constexpr const char *kWatcherName = "org.kde.StatusNotifierWatcher";
constexpr const char *kWatcherPath = "/StatusNotifierWatcher";
constexpr const char *kItemInterface = "org.kde.StatusNotifierItem";
// Every call to an item or watcher has this deadline.  An item answers from
// its program's main loop, which may be busy for seconds right after it
// announced a change (building a window, slower still under the
// sanitizers); a read that gave up then would leave us with the old state.
constexpr int kCallTimeoutMs = 10000;

constexpr const char *kWatcherXml =
    "<node>"
    " <interface name='org.kde.StatusNotifierWatcher'>"
    "  <method name='RegisterStatusNotifierItem'><arg name='service' type='s' direction='in'/></method>"
    "  <method name='RegisterStatusNotifierHost'><arg name='service' type='s' direction='in'/></method>"
    "  <property name='RegisteredStatusNotifierItems' type='as' access='read'/>"
    "  <property name='IsStatusNotifierHostRegistered' type='b' access='read'/>"
    "  <property name='ProtocolVersion' type='i' access='read'/>"
    "  <signal name='StatusNotifierItemRegistered'><arg type='s'/></signal>"
    "  <signal name='StatusNotifierItemUnregistered'><arg type='s'/></signal>"
    "  <signal name='StatusNotifierHostRegistered'/>"
    "  <signal name='StatusNotifierHostUnregistered'/>"
    " </interface>"
    "</node>";

struct Options {
  gboolean refuse = FALSE;    // answer registrations with an error
  int activateAfterMs = -1;   // call Activate on each new item after this delay
  gboolean activate = FALSE;  // client mode: activate the items of the running watcher
  gboolean dump = FALSE;      // client mode: print their properties
  gboolean show = FALSE;      // draw the items in a window of ours
  // What an activation calls: hosts differ (some send ContextMenu or
  // SecondaryActivate for a click).
  char *method = nullptr;
};

struct Item {
  std::string busName, path;
  guint watchId = 0, signalId = 0;
  GtkWidget *button = nullptr;  // its place in the panel (--show)
};

Options options;
GDBusConnection *bus = nullptr;
GMainLoop *loop = nullptr;
std::map<std::string, Item> items;  // by "BUSNAME/PATH"
GtkWidget *panel = nullptr;         // the box of icons (--show)

void say(const std::string &line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

std::string quoted(const char *text) {
  g_autofree char *escaped = g_strescape(text, nullptr);
  return std::string("\"") + escaped + "\"";
}

// Calls fn(width, height, argb, size) for each pixmap of an a(iiay) value,
// the bytes valid during the call.
template <typename Fn>
void forEachPixmap(GVariant *pixmaps, Fn fn) {
  GVariantIter iter;
  gint32 width = 0, height = 0;
  GVariant *bytes = nullptr;
  g_variant_iter_init(&iter, pixmaps);
  while (g_variant_iter_next(&iter, "(ii@ay)", &width, &height, &bytes)) {
    gsize size = 0;
    const void *argb = g_variant_get_fixed_array(bytes, &size, 1);
    fn(width, height, static_cast<const guint8 *>(argb), size);
    g_variant_unref(bytes);
  }
}

// The title of a ToolTip value (borrowed from it).
const char *tooltipTitle(GVariant *tooltip) {
  const char *title = nullptr;
  g_variant_get_child(tooltip, 2, "&s", &title);
  return title;
}

// One property's value as the event lines show it: texts quoted, the
// pixmaps as their sizes and a digest of their pixels, the tooltip as its
// title, anything else as GVariant prints it.
std::string printed(GVariant *value) {
  if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)) return quoted(g_variant_get_string(value, nullptr));
  if (g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN)) return g_variant_get_boolean(value) ? "true" : "false";
  if (g_variant_is_of_type(value, G_VARIANT_TYPE("(sa(iiay)ss)"))) return quoted(tooltipTitle(value));
  if (g_variant_is_of_type(value, G_VARIANT_TYPE("a(iiay)"))) {
    g_autoptr(GChecksum) sum = g_checksum_new(G_CHECKSUM_SHA1);
    std::string sizes;
    forEachPixmap(value, [&](gint32 width, gint32 height, const guint8 *argb, gsize size) {
      g_checksum_update(sum, argb, size);
      sizes += (sizes.empty() ? "" : ",") + std::to_string(width) + "x" + std::to_string(height);
    });
    return sizes.empty() ? "none" : sizes + ":" + std::string(g_checksum_get_string(sum), 12);
  }
  g_autofree char *text = g_variant_print(value, FALSE);
  return text;
}

// One line for the properties of an item, NAME=VALUE each.
std::string describe(GVariant *all) {
  std::string line;
  GVariantIter iter;
  const char *name;
  GVariant *value;
  g_variant_iter_init(&iter, all);
  while (g_variant_iter_next(&iter, "{&sv}", &name, &value)) {
    line += std::string(" ") + name + "=" + printed(value);
    g_variant_unref(value);
  }
  return line;
}

GVariant *getAll(const std::string &busName, const std::string &path, GError **error) {
  return g_dbus_connection_call_sync(bus, busName.c_str(), path.c_str(), "org.freedesktop.DBus.Properties", "GetAll",
                                     g_variant_new("(s)", kItemInterface), G_VARIANT_TYPE("(a{sv})"),
                                     G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, error);
}

bool activate(const std::string &busName, const std::string &path);

// The largest pixmap of IconPixmap as an image, ARGB32 (network order) made
// RGBA; null when there is none.
GdkPixbuf *largestPixmap(GVariant *pixmaps) {
  GdkPixbuf *best = nullptr;
  forEachPixmap(pixmaps, [&](gint32 width, gint32 height, const guint8 *argb, gsize size) {
    if (width <= 0 || height <= 0 || size != static_cast<gsize>(width) * height * 4) return;
    if (best != nullptr && gdk_pixbuf_get_width(best) >= width) return;
    auto *rgba = static_cast<guint8 *>(g_malloc(size));
    for (gsize p = 0; p < size; p += 4) {
      rgba[p] = argb[p + 1];
      rgba[p + 1] = argb[p + 2];
      rgba[p + 2] = argb[p + 3];
      rgba[p + 3] = argb[p];
    }
    g_autoptr(GBytes) data = g_bytes_new_take(rgba, size);
    if (best != nullptr) g_object_unref(best);
    best = gdk_pixbuf_new_from_bytes(data, GDK_COLORSPACE_RGB, TRUE, 8, width, height, width * 4);
  });
  return best;
}

// The item's icon and tooltip in the panel, a click activating it.
void showItem(const std::string &key, GVariant *all) {
  Item &item = items[key];
  if (item.button == nullptr) {
    item.button = gtk_button_new();
    gtk_button_set_relief(GTK_BUTTON(item.button), GTK_RELIEF_NONE);
    gtk_widget_set_name(item.button, key.c_str());
    g_signal_connect(item.button, "clicked", G_CALLBACK(+[](GtkButton *button, gpointer) {
                       std::string clicked = gtk_widget_get_name(GTK_WIDGET(button));
                       auto found = items.find(clicked);
                       if (found != items.end()) activate(found->second.busName, found->second.path);
                     }),
                     nullptr);
    gtk_box_pack_start(GTK_BOX(panel), item.button, FALSE, FALSE, 0);
  }
  g_autoptr(GVariant) pixmaps = g_variant_lookup_value(all, "IconPixmap", G_VARIANT_TYPE("a(iiay)"));
  g_autoptr(GdkPixbuf) icon = pixmaps != nullptr ? largestPixmap(pixmaps) : nullptr;
  gtk_button_set_image(GTK_BUTTON(item.button),
                       icon != nullptr ? gtk_image_new_from_pixbuf(icon)
                                       : gtk_image_new_from_icon_name("image-missing", GTK_ICON_SIZE_LARGE_TOOLBAR));
  g_autoptr(GVariant) tip = g_variant_lookup_value(all, "ToolTip", G_VARIANT_TYPE("(sa(iiay)ss)"));
  gtk_widget_set_tooltip_text(item.button, tip != nullptr ? tooltipTitle(tip) : nullptr);
  gtk_widget_show_all(panel);
}

void printItem(const std::string &key) {
  auto found = items.find(key);
  if (found == items.end()) return;
  g_autoptr(GError) error = nullptr;
  g_autoptr(GVariant) reply = getAll(found->second.busName, found->second.path, &error);
  if (reply == nullptr) {
    say("error " + key + " " + error->message);
    return;
  }
  g_autoptr(GVariant) all = g_variant_get_child_value(reply, 0);
  say("item " + key + describe(all));
  if (panel != nullptr) showItem(key, all);
}

bool activate(const std::string &busName, const std::string &path) {
  g_autoptr(GError) error = nullptr;
  const char *method = options.method != nullptr ? options.method : "Activate";
  // Activate, SecondaryActivate and ContextMenu all take the pointer's (x, y).
  g_autoptr(GVariant) reply = g_dbus_connection_call_sync(bus, busName.c_str(), path.c_str(), kItemInterface, method,
                                                          g_variant_new("(ii)", 0, 0), nullptr, G_DBUS_CALL_FLAGS_NONE,
                                                          kCallTimeoutMs, nullptr, &error);
  if (reply != nullptr)
    say("activated " + busName + path + " with " + method);
  else
    say("error " + busName + path + " " + error->message);
  return reply != nullptr;
}

void emitWatcherSignal(const char *name, const std::string &key) {
  g_dbus_connection_emit_signal(bus, nullptr, kWatcherPath, kWatcherName, name, g_variant_new("(s)", key.c_str()),
                                nullptr);
}

void onItemSignal(GDBusConnection *, const char *sender, const char *, const char *, const char *signal, GVariant *,
                  gpointer data) {
  std::string key = static_cast<const char *>(data);
  say("signal " + key + " " + signal + " from " + sender);
  printItem(key);
}

void onItemVanished(GDBusConnection *, const char *name, gpointer) {
  for (auto it = items.begin(); it != items.end();) {
    if (it->second.busName != name) {
      ++it;
      continue;
    }
    std::string key = it->first;
    g_bus_unwatch_name(it->second.watchId);
    g_dbus_connection_signal_unsubscribe(bus, it->second.signalId);
    if (it->second.button != nullptr) gtk_widget_destroy(it->second.button);
    it = items.erase(it);
    say("unregistered " + key);
    emitWatcherSignal("StatusNotifierItemUnregistered", key);
  }
}

gboolean activateLater(gpointer data) {
  auto *key = static_cast<std::string *>(data);
  auto found = items.find(*key);
  if (found != items.end()) activate(found->second.busName, found->second.path);
  delete key;
  return G_SOURCE_REMOVE;
}

void registerItem(const char *sender, const char *service, GDBusMethodInvocation *invocation) {
  if (options.refuse) {
    g_dbus_method_invocation_return_dbus_error(invocation, "org.kde.StatusNotifierWatcher.Error.Refused",
                                               "this watcher takes no items");
    say(std::string("refused ") + service);
    return;
  }
  // A service is a bus name (the item at the usual path) or an object path
  // on the caller's connection.
  Item item;
  item.busName = service[0] == '/' ? sender : service;
  item.path = service[0] == '/' ? service : "/StatusNotifierItem";
  std::string key = item.busName + item.path;
  g_dbus_method_invocation_return_value(invocation, nullptr);
  if (items.count(key) != 0) {
    say("registered-again " + key);
    return;
  }
  item.watchId = g_bus_watch_name_on_connection(bus, item.busName.c_str(), G_BUS_NAME_WATCHER_FLAGS_NONE, nullptr,
                                                onItemVanished, nullptr, nullptr);
  // The bus delivers the signals of the name's owner only.  The
  // subscription comes before the properties are read below: a change the
  // item makes after that read comes as a signal, one it made before is in
  // what we read, so none falls between.  (An item's signal from before its
  // registration is seen by no one; the read is what shows its state.)
  item.signalId =
      g_dbus_connection_signal_subscribe(bus, item.busName.c_str(), kItemInterface, nullptr, item.path.c_str(), nullptr,
                                         G_DBUS_SIGNAL_FLAGS_NONE, onItemSignal, g_strdup(key.c_str()), g_free);
  items[key] = item;
  say("registered " + key);
  emitWatcherSignal("StatusNotifierItemRegistered", key);
  printItem(key);
  if (options.activateAfterMs >= 0)
    g_timeout_add(static_cast<guint>(options.activateAfterMs), activateLater, new std::string(key));
}

void onWatcherCall(GDBusConnection *, const char *sender, const char *, const char *, const char *method,
                   GVariant *parameters, GDBusMethodInvocation *invocation, gpointer) {
  const char *service = nullptr;
  g_variant_get(parameters, "(&s)", &service);
  if (g_strcmp0(method, "RegisterStatusNotifierItem") == 0) {
    registerItem(sender, service, invocation);
  } else {
    g_dbus_method_invocation_return_value(invocation, nullptr);  // we are the host ourselves
  }
}

GVariant *onWatcherProperty(GDBusConnection *, const char *, const char *, const char *, const char *property,
                            GError **, gpointer) {
  if (g_strcmp0(property, "RegisteredStatusNotifierItems") == 0) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("as"));
    for (const auto &entry : items) g_variant_builder_add(&builder, "s", entry.first.c_str());
    return g_variant_builder_end(&builder);
  }
  if (g_strcmp0(property, "IsStatusNotifierHostRegistered") == 0) return g_variant_new_boolean(TRUE);
  return g_variant_new_int32(0);  // ProtocolVersion
}

const GDBusInterfaceVTable watcherVtable = {onWatcherCall, onWatcherProperty, nullptr, {}};

void onNameAcquired(GDBusConnection *, const char *, gpointer) { say("watcher ready"); }

void onNameLost(GDBusConnection *, const char *name, gpointer) {
  say(std::string("cannot own ") + name);
  std::exit(1);
}

int serve() {
  g_autoptr(GDBusNodeInfo) node = g_dbus_node_info_new_for_xml(kWatcherXml, nullptr);
  g_autoptr(GError) error = nullptr;
  if (g_dbus_connection_register_object(bus, kWatcherPath, node->interfaces[0], &watcherVtable, nullptr, nullptr,
                                        &error) == 0) {
    say(std::string("cannot export the watcher: ") + error->message);
    return 1;
  }
  g_bus_own_name_on_connection(bus, kWatcherName, G_BUS_NAME_OWNER_FLAGS_DO_NOT_QUEUE, onNameAcquired, onNameLost,
                               nullptr, nullptr);
  if (options.show) {
    GtkWidget *window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "StatusNotifier host");
    gtk_window_set_default_size(GTK_WINDOW(window), 160, 40);
    panel = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 2);
    gtk_container_add(GTK_CONTAINER(window), panel);
    // At the top right, where a panel's tray often is and where the
    // program's windows (top left without a window manager) do not go.
    GdkRectangle screen = {0, 0, 0, 0};
    gdk_monitor_get_geometry(gdk_display_get_monitor(gdk_display_get_default(), 0), &screen);
    gtk_window_move(GTK_WINDOW(window), screen.x + screen.width - 200, screen.y);
    gtk_widget_show_all(window);
  }
  loop = g_main_loop_new(nullptr, FALSE);
  g_unix_signal_add(
      SIGTERM,
      [](gpointer) {
        g_main_loop_quit(loop);
        return G_SOURCE_REMOVE;
      },
      nullptr);
  g_unix_signal_add(
      SIGINT,
      [](gpointer) {
        g_main_loop_quit(loop);
        return G_SOURCE_REMOVE;
      },
      nullptr);
  g_main_loop_run(loop);
  g_main_loop_unref(loop);
  return 0;
}

// Client mode: the given item, or every item the running watcher holds.
int actOnItems(const char *only) {
  std::map<std::string, Item> targets;
  g_autoptr(GError) error = nullptr;
  g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
      bus, kWatcherName, kWatcherPath, "org.freedesktop.DBus.Properties", "Get",
      g_variant_new("(ss)", kWatcherName, "RegisteredStatusNotifierItems"), G_VARIANT_TYPE("(v)"),
      G_DBUS_CALL_FLAGS_NO_AUTO_START, kCallTimeoutMs, nullptr, &error);
  if (reply == nullptr) {
    say(std::string("no watcher: ") + error->message);
    return 1;
  }
  g_autoptr(GVariant) boxed = g_variant_get_child_value(reply, 0);
  g_autoptr(GVariant) list = g_variant_get_variant(boxed);
  g_autofree const char **keys = g_variant_get_strv(list, nullptr);
  int acted = 0;
  for (const char **key = keys; *key != nullptr; ++key) {
    if (only != nullptr && g_strcmp0(only, *key) != 0) continue;
    const char *slash = std::strchr(*key, '/');
    if (slash == nullptr) continue;
    std::string busName(*key, slash), path(slash);
    items[*key] = Item{busName, path};
    if (options.dump) printItem(*key);
    if (options.activate && activate(busName, path)) ++acted;
    if (options.dump) ++acted;
  }
  return acted > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
  g_log_writer_default_set_use_stderr(TRUE);  // standard output carries only our lines
  GOptionEntry entries[] = {
      {"refuse", 0, 0, G_OPTION_ARG_NONE, &options.refuse, "Answer every registration with an error", nullptr},
      {"activate-after", 0, 0, G_OPTION_ARG_INT, &options.activateAfterMs,
       "Call Activate on each item MS milliseconds after it registered", "MS"},
      {"activate", 0, 0, G_OPTION_ARG_NONE, &options.activate,
       "Do not serve: call Activate on the running watcher's items (or the ITEM given) and exit", nullptr},
      {"call", 0, 0, G_OPTION_ARG_STRING, &options.method,
       "Activate an item with METHOD: Activate (the default), SecondaryActivate or ContextMenu", "METHOD"},
      {"dump", 0, 0, G_OPTION_ARG_NONE, &options.dump,
       "Do not serve: print the properties of the running watcher's items (or the ITEM given) and exit", nullptr},
      {"show", 0, 0, G_OPTION_ARG_NONE, &options.show,
       "Also show the items in a window titled \"StatusNotifier host\" (needs a display); a click activates one",
       nullptr},
      {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr},
  };
  g_autoptr(GOptionContext) context = g_option_context_new("[ITEM]");
  g_option_context_set_summary(
      context,
      "A StatusNotifierWatcher and host on the session bus, for tests and the demo.\n"
      "Serving, it writes one line per event to standard output:\n"
      "  watcher ready | registered ITEM | item ITEM NAME=VALUE... | signal ITEM SIGNAL from SENDER\n"
      "  | activated ITEM with METHOD | unregistered ITEM | refused SERVICE | error ITEM MESSAGE\n"
      "ITEM is BUSNAME/PATH as the watcher lists it.");
  g_option_context_add_main_entries(context, entries, nullptr);
  g_autoptr(GError) error = nullptr;
  if (!g_option_context_parse(context, &argc, &argv, &error)) {
    std::fprintf(stderr, "%s\n", error->message);
    return 2;
  }
  if (options.show && !gtk_init_check(&argc, &argv)) {
    std::fprintf(stderr, "--show: cannot open the display\n");
    return 1;
  }
  bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (bus == nullptr) {
    std::fprintf(stderr, "no session bus: %s\n", error->message);
    return 1;
  }
  if (options.activate || options.dump) return actOnItems(argc > 1 ? argv[1] : nullptr);
  return serve();
}
