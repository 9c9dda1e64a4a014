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
#include <vector>

#include "integration/ryx-config-kestrane-trigger-private.h"
#include "integration/ryx-config-kestrane-trigger.h"

namespace {

const char kUsage[] =
    "Usage: kestrane_trigger_probe [OPTION]...\n"
    "Makes one Kestrane trigger on GDK's default display and prints\n"
    "  window 0xID        the trigger window's X window id, or \"window none\"\n"
    "  log LEVEL FUNCTION: MESSAGE   for every record of the log domain RYX\n"
    "then drops the trigger.  Exits 0, or 2 when no display opens.\n"
    "\n"
    "  --payload TEXT         the payload (default: none)\n"
    "  --port N               the port, 0 to 65535 (cut to 16 bits as given)\n"
    "  --conference-id TEXT   (default: none)\n"
    "  --conference-key TEXT  (default: none)\n"
    "  --key-hex HEX          the encryption key's bytes (default: no key)\n"
    "  --backend-id ID        one back-end id (repeatable; default: no list)\n"
    "  --help                 show this text\n";

GLogWriterOutput printRyxRecords(GLogLevelFlags level, const GLogField *fields, gsize count, gpointer) {
  const char *domain = nullptr;
  const char *message = "";
  const char *function = "";
  const char *ryxLevel = nullptr;
  for (gsize i = 0; i < count; ++i) {
    const char *value = static_cast<const char *>(fields[i].value);
    if (strcmp(fields[i].key, "GLIB_DOMAIN") == 0) domain = value;
    if (strcmp(fields[i].key, "MESSAGE") == 0) message = value;
    if (strcmp(fields[i].key, "CODE_FUNC") == 0) function = value;
    if (strcmp(fields[i].key, "RYX_LEVEL") == 0) ryxLevel = value;
  }
  if (g_strcmp0(domain, "RYX") != 0) return g_log_writer_default(level, fields, count, nullptr);
  const char *name = "debug";
  if (ryxLevel != nullptr && strcmp(ryxLevel, "error") == 0)
    name = "error";
  else if (level & G_LOG_LEVEL_WARNING)
    name = "warning";
  else if (level & G_LOG_LEVEL_INFO)
    name = "info";
  printf("log %s %s: %s\n", name, function, message);
  fflush(stdout);
  return G_LOG_WRITER_HANDLED;
}

bool parseHex(const char *text, std::vector<guint8> *bytes) {
  size_t length = strlen(text);
  if (length % 2 != 0) return false;
  for (size_t i = 0; i < length; i += 2) {
    char pair[3] = {text[i], text[i + 1], '\0'};
    char *end = nullptr;
    unsigned long value = strtoul(pair, &end, 16);
    if (end != pair + 2) return false;
    bytes->push_back(static_cast<guint8>(value));
  }
  return true;
}

int usage(const char *problem) {
  fprintf(stderr, "kestrane_trigger_probe: %s\n%s", problem, kUsage);
  return 64;
}

}  // namespace

int main(int argc, char **argv) {
  const char *payload = nullptr;
  const char *conferenceId = nullptr;
  const char *conferenceKey = nullptr;
  unsigned long port = 0;
  bool haveKey = false;
  std::vector<guint8> key;
  std::vector<const char *> backendIds;
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    if (option == "--help") {
      fputs(kUsage, stdout);
      return 0;
    }
    if (i + 1 >= argc) return usage("an option lacks its value");
    const char *value = argv[++i];
    if (option == "--payload") {
      payload = value;
    } else if (option == "--port") {
      char *end = nullptr;
      port = strtoul(value, &end, 10);
      if (*value == '\0' || *end != '\0' || port > 65535) return usage("bad port");
    } else if (option == "--conference-id") {
      conferenceId = value;
    } else if (option == "--conference-key") {
      conferenceKey = value;
    } else if (option == "--key-hex") {
      haveKey = true;
      if (!parseHex(value, &key)) return usage("bad key");
    } else if (option == "--backend-id") {
      backendIds.push_back(value);
    } else {
      return usage("unknown option");
    }
  }

  g_log_set_writer_func(printRyxRecords, nullptr, nullptr);
  // On a loaded machine the shared test X server has been seen to refuse
  // one connection in a few dozen runs; the probe tries three times before
  // it reports that no display opens.
  bool opened = gdk_init_check(&argc, &argv);
  for (int attempt = 1; !opened && attempt < 3; ++attempt) {
    g_usleep(200 * 1000);
    opened = gdk_init_check(&argc, &argv);
  }
  if (!opened) {
    printf("no display\n");
    const char *display = getenv("DISPLAY");
    fprintf(stderr, "kestrane_trigger_probe: cannot open a display (GDK_BACKEND %s, DISPLAY %s)\n",
            getenv("GDK_BACKEND") != nullptr ? getenv("GDK_BACKEND") : "unset", display != nullptr ? display : "unset");
    return 2;
  }

  GBytes *bytes = haveKey ? g_bytes_new(key.data(), key.size()) : nullptr;
  if (!backendIds.empty()) backendIds.push_back(nullptr);
  RyxConfigKestraneTrigger *trigger =
      ryx_config_kestrane_trigger_new(payload, static_cast<guint16>(port), conferenceId, conferenceKey, bytes,
                                      backendIds.empty() ? nullptr : backendIds.data());
  if (bytes != nullptr) g_bytes_unref(bytes);

  GdkWindow *window = ryx_config_kestrane_trigger_get_window(trigger);
  if (window != nullptr && GDK_IS_X11_WINDOW(window))
    printf("window 0x%lx\n", static_cast<unsigned long>(gdk_x11_window_get_xid(window)));
  else
    printf("window %s\n", window != nullptr ? "other" : "none");
  fflush(stdout);
  g_object_unref(trigger);
  return 0;
}
