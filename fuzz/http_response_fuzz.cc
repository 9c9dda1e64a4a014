// SPDX-License-Identifier: MIT
// Feeds arbitrary bytes to the HTTP response parser as a whole answer and
// checks what a valid response holds against the text itself.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "net/http_response.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  setenv("RYX_LOG_LEVEL", "error", 1);  // the parser's warnings are expected here
  unsetenv("RYX_LOG_FILE");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);  // ends with a NUL; may hold others
  ryx::http::Response response(text.c_str());
  if (!response.valid()) {
    if (response.body() != nullptr || response.statusCode() != -1 || response.statusText() != nullptr ||
        !response.headers().empty())
      abort();
    return 0;
  }
  // The body is everything after the first empty line, up to the first NUL.
  const char *end = strstr(text.c_str(), "\r\n\r\n");
  if (end == nullptr || response.body() == nullptr || strcmp(response.body(), end + 4) != 0) abort();
  if (strncmp(text.c_str(), "HTTP/", 5) != 0) abort();
  if (response.statusCode() < -99 || response.statusCode() > 999 || response.statusText() == nullptr) abort();
  if (strstr(response.statusText(), "\r\n") != nullptr) abort();
  for (size_t i = 0; i < response.headers().size(); ++i) {
    const ryx::NameValueItem &item = response.headers().at(i);
    if (item.name()[0] == '\0' || strchr(item.name(), ':') != nullptr || strstr(item.value(), "\r\n") != nullptr)
      abort();
    if (response.headers().find(item.name()) != &item) abort();  // names are unique
  }
  ryx::http::Response copy(response);
  if (!copy.valid() || strcmp(copy.body(), response.body()) != 0 ||
      strcmp(copy.headers().htmlheader(), response.headers().htmlheader()) != 0)
    abort();
  return 0;
}
