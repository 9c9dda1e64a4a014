/* SPDX-License-Identifier: MIT */
/* The common library interface the GObject code uses: logging through
 * GLib, the install root, the VVN flag and the settings getters, which
 * answer from a table re-read by ryx_conf_settings_reload(). */
#pragma once

#include <glib.h>

G_BEGIN_DECLS

void ryx_log_setup(const char *name, int flags);

/* Tells ryx_log that lines go through GLib's default writer (no writer of
 * the program's own): a line that writer would drop (debug and info
 * without G_MESSAGES_DEBUG) is then not even formatted. */
void ryx_log_use_default_writer(void);

/* level is one of G_LOG_LEVEL_ERROR, _WARNING, _INFO, _DEBUG.  An error is
 * logged and the program goes on (GLib itself would abort). */
void ryx_log(const char *domain, GLogLevelFlags level, const char *function, int line, const char *format, ...)
    G_GNUC_PRINTF(5, 6);

/* The install root; free with g_free(). */
char *ryx_get_root(void);

/* Nonzero when the environment variable RYX_VVN_ENABLED reads as true. */
int ryx_is_vvn_enabled(void);

/* Re-reads the configuration files and the environment. */
void ryx_conf_settings_reload(void);

int ryx_conf_settings_get_console_port(void);
int ryx_conf_settings_get_ryx_config_check_enabled(void);
int ryx_conf_settings_get_ryx_config_dock_timeout(void);
char *ryx_conf_settings_get_ryx_config_trigger_position(void);
int ryx_conf_settings_get_ryx_config_warn_missing32_bit(void);
char *ryx_conf_settings_get_rendering_server(void);
int ryx_conf_settings_get_use_nvidia_grid(void);
int ryx_conf_settings_get_vnc_ext_version(void);

/* The name given to ryx_log_setup(), or NULL. */
const char *ryx_log_get_name(void);

G_END_DECLS

/* Logs with the calling function's name and line. */
#define RYX_LOG(level, ...) ryx_log("RYX", (level), __func__, __LINE__, __VA_ARGS__)
