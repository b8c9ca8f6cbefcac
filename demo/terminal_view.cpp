// SPDX-License-Identifier: MIT
#include "terminal_view.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace vu30::demo {

namespace {

constexpr int kBarWidth = 12;

// The dispenser type names of cnf.INI.
constexpr const char* kTypeNames[] = {"ЕС-2000", "FAS", "ER3/2", "ER112"};

// text padded with spaces to width characters (UTF-8: a character is every
// byte that does not continue another).
std::string PadRight(const std::string& text, size_t width) {
  const size_t chars = static_cast<size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
  return chars >= width ? text : text + std::string(width - chars, ' ');
}

std::string TypeName(uint8_t type) {
  return type < std::size(kTypeNames) ? kTypeNames[type] : std::to_string(type);
}

// Types 1 ("FAS") and 3 ("ER112") count the running volume in impulses.
std::string Impulses(const PostView& v) {
  return v.portType == 1 || v.portType == 3 ? std::to_string(v.impulses) : "-";
}

std::string Bar(double part, double whole) {
  const double share = whole > 0 ? std::clamp(part / whole, 0.0, 1.0) : 0.0;
  const int filled = static_cast<int>(std::lround(share * kBarWidth));
  // Built in place: GCC 12 warns falsely (-Wrestrict) on "[" + std::string.
  std::string bar(kBarWidth + 2, '.');
  bar.front() = '[';
  bar.back() = ']';
  std::fill_n(bar.begin() + 1, filled, '#');
  return bar;
}

}  // namespace

TerminalView::TerminalView(std::FILE* out, int posts, int salesPerPost)
    : out_(out), live_(isatty(fileno(out)) != 0), salesPerPost_(salesPerPost) {
  for (int post = 1; post <= posts; ++post) {
    const Vu30SimPostConfig setup = Station::PostSetup(post);
    PostView v;
    v.post = post;
    v.portType = static_cast<uint8_t>(setup.portType);
    v.impulses = static_cast<uint8_t>(setup.impulsesPerLitre);
    rows_[post] = v;
  }
  std::fprintf(out_, "Post Type    Imp/L Nozzle Sale  State          Volume     Money  Progress\n");
  if (live_) Redraw();
}

std::string TerminalView::StateName(uint32_t state) {
  char text[32];
  if (state == 0xC0) return "idle";
  if (state == 0xC8) return "started";
  if (state == 0xD8) return "stopped";
  if (state > 0xD8 && state <= 0xE0) {
    std::snprintf(text, sizeof text, "dose n%u", state - 0xD8);
  } else if (state > 0xE0 && state <= 0xE8) {
    std::snprintf(text, sizeof text, "lifted n%u", state - 0xE0);
  } else if (state > 0xF0 && state <= 0xF8) {
    std::snprintf(text, sizeof text, "refused n%u", state - 0xF0);
  } else {
    std::snprintf(text, sizeof text, "0x%02X", state);
  }
  return text;
}

std::string TerminalView::Row(const PostView& v) const {
  char text[160];
  std::snprintf(text, sizeof text, "%5s %6d %2d/%-2d %-12s %8.2f %9.2f  %s %s", Impulses(v).c_str(),
                v.nozzle, v.sale, salesPerPost_, StateName(v.state).c_str(), v.volume, v.money,
                Bar(v.volume, v.dose).c_str(), v.note.c_str());
  char post[16];
  std::snprintf(post, sizeof post, "%4d ", v.post);
  return post + PadRight(TypeName(v.portType), 7) + " " + text;
}

void TerminalView::Update(const PostView& view) {
  std::lock_guard lock(mu_);
  rows_[view.post] = view;
  if (live_) {
    Redraw();
    return;
  }
  // Plain output: a line whenever the post's note changes.
  const std::string key = std::to_string(view.sale) + view.note;
  if (lastLine_[view.post] == key || view.note.empty()) return;
  lastLine_[view.post] = key;
  std::fprintf(out_, "%s\n", Row(view).c_str());
  std::fflush(out_);
}

void TerminalView::Redraw() {
  if (drawn_) std::fprintf(out_, "\x1b[%zuA", rows_.size());
  for (const auto& [post, view] : rows_) std::fprintf(out_, "\r\x1b[2K%s\n", Row(view).c_str());
  drawn_ = true;
  std::fflush(out_);
}

void TerminalView::PrintSummary(const StationResult& result) const {
  std::fprintf(out_, "\nSales checked against the dispensers:\n");
  std::fprintf(out_,
               "Post Nozzle Preset           Volume     Money  Counter grew  Retries  Check\n");
  int bad = 0;
  for (const SaleCheck& s : result.sales) {
    std::string verdict = !s.problem.empty()    ? s.problem
                          : s.dispensed.refused ? "ok (refused after a fault, repeated)"
                                                : "ok";
    if (s.problem.empty() && !s.dispensed.refused && s.moneyPreset) {
      // The dispenser sells whole hundredths of a litre: a money preset buys
      // the nearest such volume, and the money charged is that volume's price.
      char note[96];
      std::snprintf(note, sizeof note, ", sold whole 0.01 L: %.2f L x %.2f = %.2f", s.hostVolume,
                    s.price, s.hostMoney);
      verdict += note;
    }
    if (!s.problem.empty()) ++bad;
    std::fprintf(out_, "%4d %6d %-14s %8.2f %9.2f  %12.2f  %7d  %s\n", s.post, s.nozzle,
                 s.preset.c_str(), s.hostVolume, s.hostMoney, s.counterAfter - s.counterBefore,
                 s.retries, verdict.c_str());
  }
  for (const std::string& e : result.errors) std::fprintf(out_, "ERROR %s\n", e.c_str());
  std::fprintf(out_, "\n%zu sales, %d mismatches, %zu posts stopped: %s\n", result.sales.size(),
               bad, result.errors.size(), result.Ok() ? "ALL SALES AGREE" : "FAILED");
  std::fflush(out_);
}

}  // namespace vu30::demo
