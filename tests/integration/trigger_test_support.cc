// SPDX-License-Identifier: MIT
#include "trigger_test_support.h"

#include <sys/stat.h>

#include <cstdlib>

#include "common/ryx_gcommon.h"

namespace ryx::test {

namespace {

GLogRecorder *active = nullptr;

std::string field(const GLogField *fields, gsize count, const char *key) {
  for (gsize i = 0; i < count; ++i) {
    if (g_strcmp0(fields[i].key, key) != 0 || fields[i].value == nullptr) continue;
    return fields[i].length < 0 ? std::string(static_cast<const char *>(fields[i].value))
                                : std::string(static_cast<const char *>(fields[i].value), fields[i].length);
  }
  return {};
}

GLogWriterOutput writer(GLogLevelFlags level, const GLogField *fields, gsize count, gpointer) {
  if (active == nullptr) return g_log_writer_default(level, fields, count, nullptr);
  active->add({field(fields, count, "GLIB_DOMAIN"), static_cast<GLogLevelFlags>(level & G_LOG_LEVEL_MASK),
               field(fields, count, "MESSAGE"), field(fields, count, "CODE_FUNC"),
               field(fields, count, "RYX_LEVEL")});
  return G_LOG_WRITER_HANDLED;
}

const char *levelName(const GLogRecord &record) {
  if (record.ryxLevel == "error") return "error";
  switch (record.level) {
    case G_LOG_LEVEL_ERROR: return "error";
    case G_LOG_LEVEL_CRITICAL: return "critical";
    case G_LOG_LEVEL_WARNING: return "warning";
    case G_LOG_LEVEL_MESSAGE: return "message";
    case G_LOG_LEVEL_INFO: return "info";
    default: return "debug";
  }
}

}  // namespace

GLogRecorder::GLogRecorder() {
  static bool installed = false;
  if (!installed) {
    g_log_set_writer_func(writer, nullptr, nullptr);
    installed = true;
  }
  if (active != nullptr) abort();  // one at a time
  active = this;
}

GLogRecorder::~GLogRecorder() { active = nullptr; }

std::vector<std::string> GLogRecorder::ryxLines() const {
  std::vector<std::string> lines;
  for (const GLogRecord &record : records_)
    if (record.domain == "RYX") lines.push_back(std::string(levelName(record)) + " " + record.function + ": " + record.message);
  return lines;
}

std::string GLogRecorder::dump() const {
  std::string text;
  for (const GLogRecord &record : records_)
    text += "[" + record.domain + "] " + levelName(record) + " " + record.function + ": " + record.message + "\n";
  return text;
}

IsolatedSettings::IsolatedSettings() {
  for (const char *folder : {"root", "root/conf", "home", "pipes"}) mkdir((dir_ / folder).c_str(), 0700);
  set("RYX_ROOT", (dir_ / "root").c_str());
  set("HOME", (dir_ / "home").c_str());
  set("RYX_REGISTRY_DIR", (dir_ / "registry").c_str());
  set("RYX_PIPE_DIR", pipeDir().c_str());
  for (const char *name : {"HOMEDRIVE", "HOMEPATH", "RYX_USER_CONFIG_DIR", "RYX_RENDERING_SERVER",
                           "RYX_CONFIG_TRIGGER_POSITION", "RYX_VVN_ENABLED", "RYX_WRAPPER_RECORD"})
    set(name, nullptr);
  reload();
}

void IsolatedSettings::set(const char *name, const char *value) {
  env_.push_back(std::make_unique<ScopedEnv>(name, value));
}

void IsolatedSettings::reload() { ryx_conf_settings_reload(); }

}  // namespace ryx::test
