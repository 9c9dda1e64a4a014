// SPDX-License-Identifier: MIT
// GLib names the current function through G_STRFUNC in its precondition
// warnings (g_return_if_fail: "FUNCTION: assertion 'EXPR' failed").
// Compiled as C++, GLib makes that the whole signature ("void
// ryx_command_status_icon_refresh_apps(RyxCommandStatusIcon*, GList*)");
// the GObject code's warnings name the bare function, as a C compiler
// would.  Include this after the GLib headers, in .cc files only; it needs
// GLib alone, so every layer on GLib (gvc included) may use it.
#pragma once

#include <glib.h>

#undef G_STRFUNC
#define G_STRFUNC ((const char *)(__func__))
