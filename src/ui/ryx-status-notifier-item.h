/* SPDX-License-Identifier: MIT */
/* The program's icon as a StatusNotifierItem on the session bus, for the
 * desktops whose notification area is a StatusNotifierWatcher and its hosts
 * rather than an XEmbed tray.  It exports the item, registers it with the
 * watcher whenever one owns its name, and reports activations.  It knows
 * nothing of the program's status: the status icon tells it what to show. */
#pragma once

#include <gio/gio.h>

G_BEGIN_DECLS

#define RYX_TYPE_STATUS_NOTIFIER_ITEM (ryx_status_notifier_item_get_type())
G_DECLARE_FINAL_TYPE(RyxStatusNotifierItem, ryx_status_notifier_item, RYX, STATUS_NOTIFIER_ITEM, GObject)

/* A new item with the given Id and Title; the bus is reached in the
 * background.  Null when the session has no bus to reach (no address in the
 * environment and no bus socket in the runtime folder): starting one just
 * for us could never bring a watcher.
 *
 * Signals:
 *   "activate" ()        a host called Activate.
 *   "watcher-changed" () the watch on the watcher's name reported, or the
 *                        bus could not be reached; the first report comes
 *                        once the bus answered, whether a watcher is there
 *                        or not. */
RyxStatusNotifierItem *ryx_status_notifier_item_new(const char *id, const char *title);

/* The icon drawn from the image file (several sizes); a file that cannot be
 * read gives no pixmap.  Hosts are told with NewIcon. */
void ryx_status_notifier_item_set_icon_from_file(RyxStatusNotifierItem *self, const char *path);

/* The tooltip's title; hosts are told with NewToolTip when it changes. */
void ryx_status_notifier_item_set_tooltip(RyxStatusNotifierItem *self, const char *text);

/* A watcher owns its well-known name on the bus. */
gboolean ryx_status_notifier_item_get_watcher_present(RyxStatusNotifierItem *self);

/* A watcher owns its name and accepted the item's registration. */
gboolean ryx_status_notifier_item_is_registered(RyxStatusNotifierItem *self);

/* The image as IconPixmap data: (width, height, ARGB32 in network byte
 * order) at the file's own size and at the usual panel sizes.  An empty
 * array when the file cannot be read.  Floating reference. */
GVariant *ryx_status_notifier_item_pixmaps_from_file(const char *path);

G_END_DECLS
