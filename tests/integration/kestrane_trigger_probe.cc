// SPDX-License-Identifier: MIT
// Makes one Kestrane trigger in a process of its own, so that each test
// picks the OpenGL library ("opengl32" on RYX_LIBRARY_PATH), the display
// and the environment the trigger meets, and reports what happened.
#include <gdk/gdk.h>
#include <gdk/gdkx.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "integration/ryx-config-kestrane-trigger-private.h"
#include "integration/ryx-config-kestrane-trigger.h"

namespace {

const char kUsage[] =
    "Usage: kestrane_trigger_probe [--payload TEXT] [--port N] [--conference-key TEXT]\n"
    "Makes one Kestrane trigger on GDK's default display and prints \"window 0xID\"\n"
    "(or \"window none\"), and \"log LEVEL FUNCTION: MESSAGE\" for every record of\n"
    "the log domain RYX.  Exits 0, or 2 when no display opens.\n";

GLogWriterOutput printRyxRecords(GLogLevelFlags level, const GLogField *fields, gsize count, gpointer) {
  const char *domain = nullptr, *message = "", *function = "", *ryxLevel = "";
  for (gsize i = 0; i < count; ++i) {
    const char *value = static_cast<const char *>(fields[i].value);
    if (strcmp(fields[i].key, "GLIB_DOMAIN") == 0) domain = value;
    if (strcmp(fields[i].key, "MESSAGE") == 0) message = value;
    if (strcmp(fields[i].key, "CODE_FUNC") == 0) function = value;
    if (strcmp(fields[i].key, "RYX_LEVEL") == 0) ryxLevel = value;
  }
  if (g_strcmp0(domain, "RYX") != 0) return g_log_writer_default(level, fields, count, nullptr);
  const char *name = strcmp(ryxLevel, "error") == 0    ? "error"
                     : (level & G_LOG_LEVEL_WARNING) ? "warning"
                     : (level & G_LOG_LEVEL_INFO)    ? "info"
                                                     : "debug";
  printf("log %s %s: %s\n", name, function, message);
  fflush(stdout);
  return G_LOG_WRITER_HANDLED;
}

int usage(const char *problem) {
  fprintf(stderr, "kestrane_trigger_probe: %s\n%s", problem, kUsage);
  return 64;
}

}  // namespace

int main(int argc, char **argv) {
  const char *payload = nullptr, *conferenceKey = nullptr;
  unsigned long port = 0;
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    if (option == "--help") return fputs(kUsage, stdout) < 0;
    if (i + 1 >= argc) return usage("an option lacks its value");
    const char *value = argv[++i];
    char *end = nullptr;
    if (option == "--payload") {
      payload = value;
    } else if (option == "--port") {
      port = strtoul(value, &end, 10);
      if (*value == '\0' || *end != '\0' || port > 65535) return usage("bad port");
    } else if (option == "--conference-key") {
      conferenceKey = value;
    } else {
      return usage("unknown option");
    }
  }

  g_log_set_writer_func(printRyxRecords, nullptr, nullptr);
  // On a loaded machine the shared test X server has been seen to refuse
  // one connection in a few dozen runs: three tries before giving up.
  bool opened = gdk_init_check(&argc, &argv);
  for (int attempt = 1; !opened && attempt < 3; ++attempt) {
    g_usleep(200 * 1000);
    opened = gdk_init_check(&argc, &argv);
  }
  if (!opened) {
    printf("no display\n");
    fprintf(stderr, "kestrane_trigger_probe: cannot open a display (GDK_BACKEND %s, DISPLAY %s)\n",
            g_getenv("GDK_BACKEND") ? g_getenv("GDK_BACKEND") : "unset",
            g_getenv("DISPLAY") ? g_getenv("DISPLAY") : "unset");
    return 2;
  }

  RyxConfigKestraneTrigger *trigger = ryx_config_kestrane_trigger_new(payload, static_cast<guint16>(port),
                                                                      nullptr, conferenceKey, nullptr, nullptr);
  GdkWindow *window = ryx_config_kestrane_trigger_get_window(trigger);
  if (window != nullptr && GDK_IS_X11_WINDOW(window))
    printf("window 0x%lx\n", static_cast<unsigned long>(gdk_x11_window_get_xid(window)));
  else
    printf("window %s\n", window != nullptr ? "other" : "none");
  fflush(stdout);
  g_object_unref(trigger);
  return 0;
}
