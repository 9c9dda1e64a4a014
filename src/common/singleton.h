// SPDX-License-Identifier: MIT
// A process-wide object created on first use through the system's one-time
// initialisation and kept until the process ends.  When that initialisation
// fails the process cannot go on: the system's error code is reported and
// the process exits with status 1.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "platform/system.h"

namespace ryx {

template <typename T>
class Singleton {
 public:
  static T &instance() {
    static platform::OnceFlag *flag = platform::newOnceFlag();
    int code = platform::initOnce(flag, &Singleton::create, nullptr);
    if (code != 0 || object_ == nullptr) {
      fprintf(stderr, "InitOnceExecuteOnce failed (code %d)\n", code);
      exit(1);
    }
    return *object_;
  }

 protected:
  Singleton() = default;
  ~Singleton() = default;

 private:
  static void create(void *) { object_ = new T(); }  // never deleted: lives until exit
  static inline T *object_ = nullptr;
};

}  // namespace ryx
