/* SPDX-License-Identifier: MIT */
// The demo's live table: one row per post, redrawn in place with ANSI codes
// on a terminal, or one plain line per event when the output is not one.
#pragma once

#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "station.h"

namespace vu30::demo {

class TerminalView {
 public:
  TerminalView(std::FILE* out, int posts, int salesPerPost);

  // Called from the post threads.
  void Update(const PostView& view);
  // The summary of every sale and the verdict.
  void PrintSummary(const StationResult& result) const;

  static std::string StateName(uint32_t state);

 private:
  void Redraw();  // under mu_
  std::string Row(const PostView& view) const;

  std::FILE* out_;
  bool live_;
  int salesPerPost_;
  std::mutex mu_;
  std::map<int, PostView> rows_;
  std::map<int, std::string> lastLine_;  // plain mode: last line printed per post
  bool drawn_ = false;
};

}  // namespace vu30::demo
