// SPDX-License-Identifier: MIT
// Test programs of the Windows build write their output unbuffered, so that
// a program that dies keeps everything it printed before in the log.
#include <cstdio>

namespace {

struct UnbufferedOutput {
  UnbufferedOutput() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::setvbuf(stderr, nullptr, _IONBF, 0);
  }
};

const UnbufferedOutput kUnbuffered;

}  // namespace
