/* SPDX-License-Identifier: MIT */
/* Helpers shared by the status icon and the status window. */
#pragma once

#include <gtk/gtk.h>

/* ROOT/share/ryx/images/NAME, ROOT being the install root; g_free it. */
char *ryx_ui_image_path(const char *name);

/* Paints the widget's background in the colour of 16-bit channels, through
 * a style provider of the widget's own, replaced at each call. */
void ryx_ui_set_background(GtkWidget *widget, guint16 red, guint16 green, guint16 blue);

/* Gives the dialog's action area (the parent of `button`) its border width
 * and button spacing.  GtkDialog resets the spacing from its style at every
 * style change, so the two are also set as the dialog's style properties. */
void ryx_ui_set_action_area(GtkDialog *dialog, GtkWidget *button, guint border_width, gint spacing);

/* format with its one "%s" replaced by text as it stands, so a text may
 * carry markup of its own; a text that would break the markup is escaped
 * instead.  g_free the result. */
char *ryx_ui_markup_with(const char *format, const char *text);

/* The same, set as the markup of a label. */
void ryx_ui_set_markup_with(GtkWidget *label, const char *format, const char *text);
