/* SPDX-License-Identifier: MIT */
// One handler at a time, for the dialog's views: a handler's own changes to
// the widgets (filling the list, hiding an editor) make the toolkit report
// events again, and those must not run handlers inside it.
#pragma once

namespace vu30::config {

class HandlerGuard {
 public:
  // Runs handler, unless a handler is running already.
  template <typename Handler>
  void Run(Handler&& handler) {
    if (running_) return;
    running_ = true;
    const Reset reset{running_};
    handler();
  }

 private:
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  };
  bool running_ = false;
};

}  // namespace vu30::config
