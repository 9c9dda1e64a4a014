// SPDX-License-Identifier: MIT
#include "integration/ryx-config-kestrane-trigger.h"

#include <gdk/gdk.h>

#include <cstdlib>
#include <cstring>

#include "common/ryx_gcommon.h"
#include "common/ryx_strfunc.h"
#include "integration/ryx-config-kestrane-trigger-private.h"
#include "integration/vnc-ext-pipe.h"
#include "platform/gl_window.h"

struct _RyxConfigKestraneTrigger {
  GObject parent_instance;

  char *payload;
  guint16 port;
  char *conference_id;
  char *conference_key;
  GBytes *encryption_key;  // one reference
  char **backend_ids;
  GdkWindow *window;  // owned; none until constructed, or when creation failed
  gint32 x;
  gint32 y;
  ryx::platform::GlDevice *hdc;     // the window's drawing device
  ryx::platform::GlContext *hglrc;  // its rendering context, left current
};

G_DEFINE_FINAL_TYPE(RyxConfigKestraneTrigger, ryx_config_kestrane_trigger, G_TYPE_OBJECT)

enum {
  PROP_0,
  PROP_PAYLOAD,
  PROP_PORT,
  PROP_CONFERENCE_ID,
  PROP_CONFERENCE_KEY,
  PROP_ENCRYPTION_KEY,
  PROP_BACKEND_IDS,
  N_PROPS
};

static GParamSpec *properties[N_PROPS];

namespace {

// A double-buffered RGBA window with 32 colour bits (8 of them alpha) and a
// 16-bit depth buffer, or the closest the display offers.
constexpr ryx::platform::GlPixelFormat kPixelFormat = {true, 32, 8, 16};

// The driver's entry point; its result is not used.
using SetConnectionInfo = int (*)(guint32 port, const char *conference_id, const char *conference_key, const void *key,
                                  guint32 key_length, const char *const *backend_ids);

}  // namespace

static gboolean track_window(RyxConfigKestraneTrigger *self, GdkWindow *window) {
  const guint64 handle = ryx::platform::nativeWindowHandle(window);

  if (!OpenExtPipe(RYX_EXT_PIPE_SESSION)) {
    RYX_LOG(G_LOG_LEVEL_ERROR, "You should install the VNC server's visualization extension to use RYX.");
    return FALSE;
  }
  // Only the newer extension has the notification pipe; either will do.
  OpenExtPipe(RYX_EXT_PIPE_NOTIFY);

  // The payload goes with its terminating NUL; no payload is an empty one.
  // The pipe client bounds every step (RYX_EXT_PIPE_TIMEOUT_MS for each pipe
  // name it tries to open, as much for the request and its one-byte
  // answer), so a silent extension delays the trigger, never holds it.
  const char *payload = self->payload != nullptr ? self->payload : "";
  const gsize length = strlen(payload) + 1;
  if (length <= G_MAXUINT32 && TrackWindow(handle, payload, (guint32)length)) {
    RYX_LOG(G_LOG_LEVEL_INFO, "Tracked window (%lx)", (unsigned long)handle);
    return TRUE;
  }
  RYX_LOG(G_LOG_LEVEL_WARNING, "Request to track window %lx failed", (unsigned long)handle);
  return FALSE;
}

// Gives the connection information to the driver, or has the extension
// track the window when the driver cannot take it (and VVN is off).
static void hand_over(RyxConfigKestraneTrigger *self, GdkWindow *window) {
  auto set_connection_info =
      reinterpret_cast<SetConnectionInfo>(ryx::platform::findGlFunction("glRyxSetConnectionInfo"));
  if (set_connection_info != nullptr) {
    gsize key_length = 0;
    const void *key = self->encryption_key != nullptr ? g_bytes_get_data(self->encryption_key, &key_length) : nullptr;
    set_connection_info(self->port, self->conference_id, self->conference_key, key, (guint32)key_length,
                        self->backend_ids);
  } else if (!ryx_is_vvn_enabled()) {
    track_window(self, window);
  }
}

// The 1 x 1 window with its device, pixel format and context; the hand-over
// happens between the pixel format and the context.  Any failure is silent
// and gives no window, with whatever was made of the window released.
static GdkWindow *create_window(RyxConfigKestraneTrigger *self) {
  if (gdk_display_get_default() == nullptr) return nullptr;

  GdkWindowAttr attributes = {};
  attributes.x = self->x;
  attributes.y = self->y;
  attributes.width = 1;
  attributes.height = 1;
  attributes.wclass = GDK_INPUT_ONLY;
  attributes.type_hint = GDK_WINDOW_TYPE_HINT_UTILITY;
  gint attributes_mask = 0;  // position and hint are applied once the window exists
  // Where a window that only takes input cannot hold a GL drawable, the
  // platform gives it what GL needs; without GL the device fails below.
  ryx::platform::prepareGlWindowAttributes(kPixelFormat, &attributes, &attributes_mask);

  GdkWindow *window = gdk_window_new(nullptr, &attributes, attributes_mask);
  if (window == nullptr) return nullptr;

  self->hdc = ryx::platform::getGlDevice(window);
  if (self->hdc == nullptr) {
    gdk_window_destroy(window);
    return nullptr;
  }

  // As with the system's own choice, a format that cannot be set shows up
  // as a context that cannot be made.
  int pixel_format = ryx::platform::choosePixelFormat(self->hdc, kPixelFormat);
  ryx::platform::setPixelFormat(self->hdc, pixel_format, kPixelFormat);

  hand_over(self, window);

  self->hglrc = ryx::platform::createGlContext(self->hdc);
  if (self->hglrc == nullptr) {
    g_clear_pointer(&self->hdc, ryx::platform::releaseGlDevice);
    gdk_window_destroy(window);
    return nullptr;
  }
  return window;
}

static void ryx_config_kestrane_trigger_set_property(GObject *object, guint prop_id, const GValue *value,
                                                     GParamSpec *pspec) {
  RyxConfigKestraneTrigger *self = RYX_CONFIG_KESTRANE_TRIGGER(object);

  switch (prop_id) {
    case PROP_PAYLOAD:
      g_free(self->payload);
      self->payload = g_value_dup_string(value);
      break;
    case PROP_PORT: self->port = (guint16)g_value_get_uint(value); break;
    case PROP_CONFERENCE_ID:
      g_free(self->conference_id);
      self->conference_id = g_value_dup_string(value);
      break;
    case PROP_CONFERENCE_KEY:
      g_free(self->conference_key);
      self->conference_key = g_value_dup_string(value);
      break;
    case PROP_ENCRYPTION_KEY: {
      GBytes *key = static_cast<GBytes *>(g_value_get_pointer(value));
      if (key != nullptr) g_bytes_ref(key);
      g_clear_pointer(&self->encryption_key, g_bytes_unref);
      self->encryption_key = key;
      break;
    }
    case PROP_BACKEND_IDS:
      g_strfreev(self->backend_ids);
      self->backend_ids = static_cast<char **>(g_value_dup_boxed(value));
      break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, prop_id, pspec); break;
  }
}

static void ryx_config_kestrane_trigger_get_property(GObject *object, guint prop_id, GValue *value, GParamSpec *pspec) {
  RyxConfigKestraneTrigger *self = RYX_CONFIG_KESTRANE_TRIGGER(object);

  switch (prop_id) {
    case PROP_PAYLOAD: g_value_set_string(value, self->payload); break;
    case PROP_PORT: g_value_set_uint(value, self->port); break;
    case PROP_CONFERENCE_ID: g_value_set_string(value, self->conference_id); break;
    case PROP_CONFERENCE_KEY: g_value_set_string(value, self->conference_key); break;
    case PROP_ENCRYPTION_KEY:
      g_value_set_pointer(value, self->encryption_key);  // no new reference
      break;
    case PROP_BACKEND_IDS: g_value_set_boxed(value, self->backend_ids); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, prop_id, pspec); break;
  }
}

static void ryx_config_kestrane_trigger_finalize(GObject *object) {
  RyxConfigKestraneTrigger *self = RYX_CONFIG_KESTRANE_TRIGGER(object);

  g_clear_pointer(&self->hglrc, ryx::platform::deleteGlContext);
  g_clear_pointer(&self->hdc, ryx::platform::releaseGlDevice);
  g_clear_pointer(&self->window, gdk_window_destroy);
  g_free(self->payload);
  g_free(self->conference_id);
  g_free(self->conference_key);
  g_strfreev(self->backend_ids);
  g_clear_pointer(&self->encryption_key, g_bytes_unref);

  G_OBJECT_CLASS(ryx_config_kestrane_trigger_parent_class)->finalize(object);
}

static void ryx_config_kestrane_trigger_constructed(GObject *object) {
  RyxConfigKestraneTrigger *self = RYX_CONFIG_KESTRANE_TRIGGER(object);

  self->window = create_window(self);
  if (self->window != nullptr) {
    gdk_window_set_decorations(self->window, (GdkWMDecoration)0);
    gdk_window_set_type_hint(self->window, GDK_WINDOW_TYPE_HINT_UTILITY);
    gdk_window_move(self->window, self->x, self->y);
    gdk_window_show(self->window);
    // One frame: cleared, then the clear colour set to white for the
    // driver's later frames.  The context stays current.
    if (ryx::platform::makeGlContextCurrent(self->hdc, self->hglrc)) {
      ryx::platform::clearGl(ryx::platform::kGlColorBufferBit | ryx::platform::kGlDepthBufferBit);
      ryx::platform::setGlClearColor(1.0f, 1.0f, 1.0f, 1.0f);
      ryx::platform::flushGl();
      ryx::platform::swapGlBuffers(self->hdc);
    }
  }

  G_OBJECT_CLASS(ryx_config_kestrane_trigger_parent_class)->constructed(object);
}

static void ryx_config_kestrane_trigger_class_init(RyxConfigKestraneTriggerClass *klass) {
  GObjectClass *object_class = G_OBJECT_CLASS(klass);

  object_class->set_property = ryx_config_kestrane_trigger_set_property;
  object_class->get_property = ryx_config_kestrane_trigger_get_property;
  object_class->finalize = ryx_config_kestrane_trigger_finalize;
  object_class->constructed = ryx_config_kestrane_trigger_constructed;

  const GParamFlags flags =
      static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_CONSTRUCT_ONLY | G_PARAM_STATIC_STRINGS);
  properties[PROP_PAYLOAD] = g_param_spec_string("payload", "Payload", "Payload", nullptr, flags);
  properties[PROP_PORT] = g_param_spec_uint("port", "Port", "Port", 0, RYX_CONFIG_KESTRANE_TRIGGER_MAX_PORT, 0, flags);
  properties[PROP_CONFERENCE_ID] =
      g_param_spec_string("conference-id", "Conference ID", "Conference ID", nullptr, flags);
  properties[PROP_CONFERENCE_KEY] =
      g_param_spec_string("conference-key", "Conference Key", "Conference Key", nullptr, flags);
  properties[PROP_ENCRYPTION_KEY] = g_param_spec_pointer("encryption-key", "Encryption key", "Encryption Key", flags);
  properties[PROP_BACKEND_IDS] = g_param_spec_boxed("backend-ids", "Backend Ids", "Backend Ids", G_TYPE_STRV, flags);
  g_object_class_install_properties(object_class, N_PROPS, properties);
}

// The position comes from the settings before the properties are set:
// "X,Y", each half trimmed and read as a number; anything but two parts
// leaves the window at 0, 0.
static void ryx_config_kestrane_trigger_init(RyxConfigKestraneTrigger *self) {
  g_autofree char *position = ryx_conf_settings_get_ryx_config_trigger_position();
  g_auto(GStrv) parts = g_strsplit(position != nullptr ? position : "", ",", 2);
  if (g_strv_length(parts) == 2) {
    self->x = atoi(g_strstrip(parts[0]));
    self->y = atoi(g_strstrip(parts[1]));
  }
}

RyxConfigKestraneTrigger *ryx_config_kestrane_trigger_new(const char *payload, guint16 port, const char *conference_id,
                                                          const char *conference_key, GBytes *encryption_key,
                                                          const char *const *backend_ids) {
  return RYX_CONFIG_KESTRANE_TRIGGER(g_object_new(
      RYX_TYPE_CONFIG_KESTRANE_TRIGGER, "payload", payload, "port", (guint)port, "conference-id", conference_id,
      "conference-key", conference_key, "encryption-key", encryption_key, "backend-ids", backend_ids, nullptr));
}

GdkWindow *ryx_config_kestrane_trigger_get_window(RyxConfigKestraneTrigger *self) {
  g_return_val_if_fail(RYX_IS_CONFIG_KESTRANE_TRIGGER(self), nullptr);
  return self->window;
}

void ryx_config_kestrane_trigger_get_position(RyxConfigKestraneTrigger *self, gint32 *x, gint32 *y) {
  g_return_if_fail(RYX_IS_CONFIG_KESTRANE_TRIGGER(self));
  if (x != nullptr) *x = self->x;
  if (y != nullptr) *y = self->y;
}
