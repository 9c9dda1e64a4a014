// SPDX-License-Identifier: MIT
#include "glib_support.h"

#include <cstdlib>

namespace ryx::test {

namespace {

GLogCapture *activeCapture = nullptr;

}  // namespace

GLogWriterOutput captureWriter(GLogLevelFlags level, const GLogField *fields, gsize count, gpointer) {
  if (activeCapture == nullptr) return g_log_writer_default(level, fields, count, nullptr);
  LogRecord record;
  record.level = (GLogLevelFlags)(level & G_LOG_LEVEL_MASK);
  for (gsize i = 0; i < count; i++) {
    if (fields[i].value == nullptr) continue;
    const char *value = (const char *)fields[i].value;
    record.fields[fields[i].key] = fields[i].length < 0 ? value : std::string(value, (size_t)fields[i].length);
  }
  record.domain = record.fields["GLIB_DOMAIN"];
  record.message = record.fields["MESSAGE"];
  record.function = record.fields["CODE_FUNC"];
  activeCapture->records_.push_back(record);
  return G_LOG_WRITER_HANDLED;
}

GLogCapture::GLogCapture() {
  static bool installed = false;
  if (!installed) {
    g_log_set_writer_func(captureWriter, nullptr, nullptr);
    installed = true;
  }
  if (activeCapture != nullptr) abort();  // one capture at a time
  activeCapture = this;
}

GLogCapture::~GLogCapture() { activeCapture = nullptr; }

int GLogCapture::count(const std::string &message, GLogLevelFlags level) const {
  int n = 0;
  for (const LogRecord &record : records_)
    if (record.message == message && (level == 0 || record.level == level)) n++;
  return n;
}

std::string GLogCapture::dump() const {
  std::string text;
  for (const LogRecord &record : records_) text += "[" + record.domain + "] " + record.message + "\n";
  return text;
}

bool spinUntil(const std::function<bool()> &done, int timeoutMs) {
  gint64 end = g_get_monotonic_time() + (gint64)timeoutMs * 1000;
  while (!done() && g_get_monotonic_time() < end) {
    if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
  }
  return done();
}

void spinFor(int ms) {
  spinUntil([] { return false; }, ms);
}

LoopbackPair::LoopbackPair() {
  g_autoptr(GSocketListener) listener = g_socket_listener_new();
  g_autoptr(GInetAddress) loopback = g_inet_address_new_from_string("127.0.0.1");
  g_autoptr(GSocketAddress) address = g_inet_socket_address_new(loopback, 0);
  g_autoptr(GSocketAddress) bound = nullptr;
  g_autoptr(GError) error = nullptr;
  if (!g_socket_listener_add_address(listener, address, G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_TCP, nullptr, &bound,
                                     &error))
    g_error("cannot listen on 127.0.0.1: %s", error->message);
  g_autoptr(GSocketClient) connector = g_socket_client_new();
  client = g_socket_client_connect(connector, G_SOCKET_CONNECTABLE(bound), nullptr, &error);
  if (client == nullptr) g_error("cannot connect: %s", error->message);
  server = g_socket_listener_accept(listener, nullptr, nullptr, &error);
  if (server == nullptr) g_error("cannot accept: %s", error->message);
}

LoopbackPair::~LoopbackPair() {
  g_clear_object(&client);
  g_clear_object(&server);
}

bool LoopbackPair::send(const std::string &bytes) {
  GOutputStream *output = g_io_stream_get_output_stream(G_IO_STREAM(client));
  return g_output_stream_write_all(output, bytes.data(), bytes.size(), nullptr, nullptr, nullptr);
}

void LoopbackPair::closeClient() {
  if (client != nullptr) g_io_stream_close(G_IO_STREAM(client), nullptr, nullptr);
}

}  // namespace ryx::test
