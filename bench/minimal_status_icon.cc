// SPDX-License-Identifier: MIT
// The yardstick of the idle-cost benchmark: the least a program with an
// icon in the notification area and a 2-second check does — a
// GtkStatusIcon showing the given image and a timer that does nothing.
#define GDK_DISABLE_DEPRECATION_WARNINGS
#include <gtk/gtk.h>

#include <cstdio>

static gboolean tick(gpointer) { return G_SOURCE_CONTINUE; }

int main(int argc, char **argv) {
  gtk_init(&argc, &argv);
  if (argc != 2) {
    fprintf(stderr, "usage: minimal-status-icon IMAGE\n");
    return 2;
  }
  GtkStatusIcon *icon = gtk_status_icon_new_from_file(argv[1]);
  gtk_status_icon_set_tooltip_text(icon, "minimal");
  g_timeout_add_seconds(2, tick, nullptr);
  gtk_main();
  g_object_unref(icon);
  return 0;
}
