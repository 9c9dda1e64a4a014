// SPDX-License-Identifier: MIT
#include "integration/rendering-server-check.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/ryx_gcommon.h"
#include "common/ryx_strfunc.h"
#include "net/http_client.h"
#include "net/name_value.h"
#include "state/error_reporter.h"
#include "state/status.h"

namespace {

// The port after the colon as atoi reads it (leading blanks, a sign, the
// digits up to the first other character), or the default port when that
// is not 1 to 65535.  Read with strtol so that a long run of digits is
// simply out of range.
guint16 portOf(const char *text) {
  errno = 0;
  long port = strtol(text, nullptr, 10);
  if (errno != 0 || port < 1 || port > 65535) return RYX_RENDERING_SERVER_DEFAULT_PORT;
  return static_cast<guint16>(port);
}

}  // namespace

void check_rendering_server(guint32 *refresh_count) {
  g_return_if_fail(refresh_count != nullptr);
  *refresh_count = 0;

  g_autofree char *setting = ryx_conf_settings_get_rendering_server();

  ryx::ErrorReporter &reporter = ryx::ErrorReporter::instance();
  reporter.code = ryx::STATUS_OK;
  reporter.setMessage("");

  if (setting == nullptr || *setting == '\0') return;

  // "host" or "host:port": the host is cut at the first colon.
  guint16 port = RYX_RENDERING_SERVER_DEFAULT_PORT;
  if (char *colon = strchr(setting, ':')) {
    *colon = '\0';
    port = portOf(colon + 1);
  }

  ryx::http::Client client(setting, port);
  ryx::NameValueCollection parameters;
  ryx::NameValueCollection headers;
  ryx::http::Response response = client.doGet("/index.html", parameters, headers);
  if (!response.valid()) {
    reporter.code = ryx::STATUS_RENDERING_SERVER_ERROR;
    reporter.setMessage("Cannot communicate with the Rendering Server");
  }
}
