/* SPDX-License-Identifier: MIT */
/* The legal notices window: the notice text of every component of the
 * installation (the sub-folders of ROOT/legal-notices, each with its
 * version.txt and license.txt), read once while the window is built. */
#pragma once

#include <gtk/gtk.h>

G_BEGIN_DECLS

#define RYX_TYPE_CONSOLE_LEGAL_NOTICES_DIALOG (ryx_console_legal_notices_dialog_get_type())
G_DECLARE_FINAL_TYPE(RyxConsoleLegalNoticesDialog, ryx_console_legal_notices_dialog, RYX, CONSOLE_LEGAL_NOTICES_DIALOG,
                     GtkDialog)

/* Made with g_object_new (RYX_TYPE_CONSOLE_LEGAL_NOTICES_DIALOG, NULL); any
 * response destroys it. */

G_END_DECLS
