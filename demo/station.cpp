// SPDX-License-Identifier: MIT
#include "station.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <utility>

#include "call_into_library.h"
#include "forecourt.h"
#include "library_loader.h"
#include "station_ini.h"

namespace vu30::demo {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kIdle = 0xC0;
constexpr uint32_t kDoseReleased = 0xD8;  // + nozzle
constexpr int kAttempts = 25;             // tries of one operation before giving up
constexpr int kSaleAttempts = 4;          // tries of a sale whose dose a fault cost

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// The station's port types, as cnf.INI keys.
std::vector<std::pair<std::string, std::string>> IniKeys(int posts) {
  std::vector<std::pair<std::string, std::string>> keys;
  for (int post = 1; post <= posts && post < 30; ++post) {
    const Vu30SimPostConfig c = Station::PostSetup(post);
    keys.emplace_back("COM_" + std::to_string(post) + "_TYPE", std::to_string(c.portType));
    keys.emplace_back("COM_" + std::to_string(post) + "_IMPL", std::to_string(c.impulsesPerLitre));
  }
  return keys;
}

// The driver object, destroyed through its own table.
struct DriverCloser {
  void operator()(Vu30Driver* driver) const { driver->table->Destroy(driver); }
};
using Driver = std::unique_ptr<Vu30Driver, DriverCloser>;

// The line trace around the simulator's dispatcher, closed after the driver
// that uses it is destroyed.
struct TraceCloser {
  Vu30TraceCloseFn close;
  void operator()(Vu30Dispatcher* traced) const { close(traced); }
};
using TracedDispatcher = std::unique_ptr<Vu30Dispatcher, TraceCloser>;

// One host thread's work: the sales of one post.
class PostRunner {
 public:
  PostRunner(Vu30Driver* driver, host::Forecourt& sim, const StationOptions& options, int post,
             const std::function<void(const PostView&)>& onChange, std::mutex& resultMu,
             StationResult& result)
      : driver_(driver),
        t_(*host::HostTable(driver->table)),
        sim_(sim),
        options_(options),
        post_(post),
        onChange_(onChange),
        resultMu_(resultMu),
        result_(result),
        rng_(options.seed * 1000 + static_cast<uint64_t>(post)) {
    view_.post = post;
    const Vu30SimPostConfig setup = Station::PostSetup(post);
    view_.portType = static_cast<uint8_t>(setup.portType);
    view_.impulses = static_cast<uint8_t>(setup.impulsesPerLitre);
  }

  void Run() {
    try {
      for (int s = 0; s < options_.sales; ++s) RunSale(s);
      // The last sale's line was held back: it is the post's final line.
      view_.note += ", post done";
    } catch (const std::exception& e) {
      view_.note = std::string("stopped: ") + e.what();
      std::lock_guard lock(resultMu_);
      result_.errors.push_back("post " + std::to_string(post_) + ": " + e.what());
    }
    view_.finished = true;
    Show();
  }

 private:
  void Show() { onChange_(view_); }

  // Repeats op until it neither raises ESerialIO nor leaves the link failed.
  template <typename Op>
  void Retry(const char* what, Op op) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
      try {
        op();
        if (t_.GetLinkStatus(driver_, static_cast<uint8_t>(post_)) == VU30_LINK_GOOD) return;
      } catch (const ESerialIO&) {
      }
      ++retries_;
      std::this_thread::sleep_for(20ms);
    }
    throw std::runtime_error(std::string(what) + " keeps failing");
  }

  // The post's state code; 0 when the dispenser could not be asked.
  uint32_t State() {
    try {
      return t_.GetPumpState(driver_, static_cast<uint8_t>(post_), 0);
    } catch (const ESerialIO&) {
      ++retries_;
      return 0;
    }
  }

  template <typename Pred>
  void WaitFor(const char* what, std::chrono::milliseconds timeout, Pred pred) {
    const auto deadline = Clock::now() + timeout;
    while (!pred()) {
      if (Clock::now() > deadline) throw std::runtime_error(std::string("timed out ") + what);
      std::this_thread::sleep_for(20ms);
    }
  }

  double ReadCounter(int nozzle) {
    double counter = 0;
    double second = 0;
    Retry("ReadCounter",
          [&] { t_.ReadCounter(driver_, post_, 0, nozzle, &counter, &second, 0, 0); });
    return counter;
  }

  void RunSale(int index) {
    const bool last = index + 1 == options_.sales;
    const int nozzle = index % Station::kNozzles + 1;
    const int priceCents = 3000 + static_cast<int>(rng_() % 2000);
    const double price = priceCents / 100.0;
    Retry("SetPrice", [&] { t_.SetPrice(driver_, post_, 0, nozzle, 0, 0, price); });

    for (int attempt = 0; attempt < kSaleAttempts; ++attempt) {
      SaleCheck check;
      check.post = post_;
      check.nozzle = nozzle;
      check.price = price;
      if ((index + post_) % 2 == 0) {
        const double volume = static_cast<double>(500 + rng_() % 1500) / 100.0;
        t_.PresetVolume(driver_, post_, 0, nozzle, 0, volume);
        view_.dose = volume;
        check.doseHundredths = std::llround(volume * 100.0);
        check.preset = Format("%.2f L", volume);
      } else {
        const double money = static_cast<double>(200 + rng_() % 600);
        t_.PresetMoney(driver_, post_, 0, nozzle, 0, money);
        view_.dose = std::nearbyint(money * 100.0 / price) / 100.0;
        check.doseHundredths = std::llround(view_.dose * 100.0);
        check.preset = Format("%.2f money", money);
        check.moneyPreset = true;
      }
      view_.sale = index + 1;
      view_.nozzle = nozzle;
      view_.volume = 0;
      view_.money = 0;
      view_.note = attempt ? "sale repeated" : "";
      Show();
      if (RunOneSale(check, last)) return;
      std::lock_guard lock(resultMu_);
      ++result_.refusedByFaults;
    }
    throw std::runtime_error("sale " + std::to_string(index + 1) + " refused every time");
  }

  // False when the dose was refused (a fault cost the start); the sale was
  // still checked and recorded. The line of the post's last sale is left to
  // Run, which prints it once, as the post's final line.
  bool RunOneSale(SaleCheck& check, bool lastSale) {
    const int nozzle = check.nozzle;
    retries_ = 0;
    const uint32_t salesBefore = sim_.SaleCount(post_);
    check.counterBefore = ReadCounter(nozzle);

    sim_.LiftNozzle(post_, nozzle);
    view_.note = "nozzle lifted";
    Show();
    WaitFor("for the price answer", 10s,
            [&] { return sim_.Phase(post_) != VU30_SIM_PRICE_REQUESTED; });

    Retry("StartPump", [&] { t_.StartPump(driver_, post_, 0, 0); });
    const auto completed = [&] { return sim_.SaleCount(post_) > salesBefore; };
    WaitFor("for the dose", 10s, [&] {
      view_.state = State();
      return view_.state == kDoseReleased + static_cast<uint32_t>(nozzle) || completed();
    });
    view_.note = "dispensing";
    Show();
    if (options_.whileDispensing) options_.whileDispensing(sim_.get(), post_);

    // Poll the running figures until the dispenser has reported the end, as
    // long as the post shows something new now and then.
    auto seen = std::make_tuple(view_.state, view_.volume, sim_.Phase(post_), completed());
    auto stallAt = Clock::now() + options_.stallTimeout;
    for (;;) {
      view_.state = State();
      const int32_t phase = sim_.Phase(post_);
      const bool over = completed() && view_.state == kIdle && phase == VU30_SIM_IDLE;
      if (over) break;
      const auto now = std::make_tuple(view_.state, view_.volume, phase, completed());
      if (now != seen) {
        seen = now;
        stallAt = Clock::now() + options_.stallTimeout;
      } else if (Clock::now() > stallAt) {
        char state[16];
        std::snprintf(state, sizeof state, "0x%02X", static_cast<unsigned>(view_.state));
        throw std::runtime_error("the post stopped answering: nothing new for " +
                                 std::to_string(options_.stallTimeout.count()) +
                                 " ms while the sale ran (state " + state + ")");
      }
      if (view_.state == kDoseReleased + static_cast<uint32_t>(nozzle)) {
        try {
          double money = 0;
          const double volume = t_.PollDispense(driver_, post_, 1, &money);
          if (t_.GetLinkStatus(driver_, static_cast<uint8_t>(post_)) == VU30_LINK_GOOD) {
            view_.volume = volume;
            view_.money = money;
          }
        } catch (const ESerialIO&) {
          ++retries_;
        }
      }
      Show();
      std::this_thread::sleep_for(100ms);
    }

    Retry("ReadFinalDispense",
          [&] { t_.ReadFinalDispense(driver_, post_, 0, &check.hostVolume, &check.hostMoney); });
    check.counterAfter = ReadCounter(nozzle);
    view_.volume = check.hostVolume;
    view_.money = check.hostMoney;
    view_.state = State();

    const uint32_t sales = sim_.SaleCount(post_);
    if (sales != salesBefore + 1) {
      check.problem = "the dispenser recorded " + std::to_string(sales - salesBefore) + " sales";
    } else {
      check.dispensed = sim_.Sale(post_, salesBefore);
      Verify(check);
    }
    check.retries = retries_;
    view_.note =
        check.problem.empty() ? (check.dispensed.refused ? "refused" : "sold") : "MISMATCH";
    const bool done = !check.dispensed.refused || !check.problem.empty();
    if (!(done && lastSale)) Show();
    std::lock_guard lock(resultMu_);
    result_.sales.push_back(check);
    return done;
  }

  static void Verify(SaleCheck& c) {
    const Vu30SimSale& d = c.dispensed;
    auto hundredths = [](double x) { return std::llround(x * 100.0); };
    if (!d.refused && d.volume != c.doseHundredths) {
      c.problem = "the dispenser sold another volume than the preset dose";
    } else if (hundredths(c.hostVolume) != d.volume) {
      c.problem = "final volume differs from the dispensed volume";
    } else if (hundredths(c.counterAfter - c.counterBefore) != d.volume) {
      c.problem = "counter grew by another amount than the volume";
    } else if (hundredths(c.counterAfter) != d.counterAfter) {
      c.problem = "counter differs from the dispenser's";
    } else if (std::fabs(c.hostMoney * 100.0 - static_cast<double>(d.money)) > 0.5 + 1e-6) {
      c.problem = "money differs from volume x price";
    }
  }

  Vu30Driver* driver_;
  const Vu30DriverTable& t_;
  host::Forecourt& sim_;
  const StationOptions& options_;
  int post_;
  const std::function<void(const PostView&)>& onChange_;
  std::mutex& resultMu_;
  StationResult& result_;
  std::mt19937_64 rng_;
  PostView view_;
  int retries_ = 0;
};

}  // namespace

bool StationResult::Ok() const {
  if (!errors.empty()) return false;
  for (const SaleCheck& s : sales) {
    if (!s.problem.empty()) return false;
  }
  return true;
}

Station::Station(StationOptions options) : options_(std::move(options)) {}

Vu30SimPostConfig Station::PostSetup(int post) {
  Vu30SimPostConfig c{};
  c.portType = 0;
  c.impulsesPerLitre = 100;
  c.nozzles = kNozzles;
  c.flowRate = 500;  // 5 L/s
  if (post == 2) {
    c.portType = 1;  // "FAS": running volume in impulses
    c.impulsesPerLitre = 50;
  } else if (post == 3) {
    c.portType = 3;  // "ER112": impulses too
    c.impulsesPerLitre = 20;
  } else if (post == 4) {
    c.portType = 2;  // "ER3/2"
  }
  return c;
}

StationResult Station::Run(const std::function<void(const PostView&)>& onChange) {
  StationIni ini(IniKeys(options_.posts));
  DriverLibrary library(options_.library);
  std::optional<TraceLibrary> traceLibrary;
  if (!options_.trace.empty()) traceLibrary.emplace(options_.traceLibrary);

  Vu30SimOptions simOptions = host::Forecourt::DefaultOptions();
  simOptions.baud = static_cast<uint32_t>(options_.baud);
  simOptions.faultRatePpm = static_cast<uint32_t>(std::lround(options_.faultRate * 1e6));
  simOptions.seed = options_.seed;
  StationResult result;
  {
    host::Forecourt sim(simOptions);
    for (int post = 1; post <= options_.posts; ++post) {
      sim.ConfigurePost(post, PostSetup(post));
      for (int nozzle = 1; nozzle <= kNozzles; ++nozzle) {
        sim.SetCounter(post, nozzle, 100000000LL * post + 1000000LL * nozzle);
      }
    }
    TracedDispatcher traced(nullptr, {traceLibrary ? traceLibrary->Close() : nullptr});
    if (traceLibrary) {
      traced.reset(traceLibrary->Open()(sim.Dispatcher(), options_.trace.c_str(), 0));
      if (!traced) throw std::runtime_error("cannot write the trace " + options_.trace);
    }
    Driver driver(
        host::HostGetVU30(library.GetVU30(), 0, nullptr, traced ? traced.get() : sim.Dispatcher()));
    if (!driver) throw std::runtime_error("GetVU30 returned no driver");
    const Vu30DriverTable& table = *host::HostTable(driver->table);
    for (int post = 1; post <= options_.posts; ++post) table.OpenPost(driver.get(), post);

    std::mutex resultMu;
    std::vector<std::unique_ptr<PostRunner>> runners;
    for (int post = 1; post <= options_.posts; ++post) {
      runners.push_back(std::make_unique<PostRunner>(driver.get(), sim, options_, post, onChange,
                                                     resultMu, result));
    }
    std::vector<std::thread> threads;
    for (auto& runner : runners) threads.emplace_back([&runner] { runner->Run(); });
    for (auto& thread : threads) thread.join();
    // Like a host unloading a driver: no more calls into it, then destroy it
    // (before the simulator it talks to, and before the library is unloaded).
    sim.ForgetCallbacks();
  }
  return result;
}

}  // namespace vu30::demo
