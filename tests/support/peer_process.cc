// SPDX-License-Identifier: MIT
#include "peer_process.h"

namespace ryx::test {

bool PeerProcess::start(const std::vector<std::string> &argv) {
  if (child_ != nullptr && child_->started()) return false;
  child_ = std::make_unique<Child>(argv);
  return child_->started();
}

}  // namespace ryx::test
