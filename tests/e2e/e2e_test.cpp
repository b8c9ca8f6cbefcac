// SPDX-License-Identifier: MIT
// End-to-end sales: the driver library, as a host uses it through its table,
// on simulated dispensers. Every sale the dispenser completed must be read
// back by the host with the right figures.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "call_into_library.h"
#include "forecourt.h"
#include "station.h"
#include "vu30.h"
#include "vu30_trace.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace vu30::e2e {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using host::Forecourt;

// Port types of the test station: post 2 "FAS" and post 3 "ER112" count in
// impulses, every other post is type 0.
Vu30SimPostConfig PostSetup(int post) {
  Vu30SimPostConfig c{0, 100, 4, 4000};  // 40 L/s
  if (post == 2) {
    c.portType = 1;
    c.impulsesPerLitre = 50;
  } else if (post == 3) {
    c.portType = 3;
    c.impulsesPerLitre = 20;
  }
  return c;
}

// The station's cnf.INI where the library reads it. POSIX: a directory of
// the test's own, named by WINDIR. Windows: vu30.dll reads the system's
// Windows directory (a throwaway Wine prefix in CI); a file already there is
// put back at the end.
class WindowsDirectory : public ::testing::Environment {
 public:
  void SetUp() override {
#if defined(_WIN32)
    char windows[MAX_PATH];
    const UINT length = GetWindowsDirectoryA(windows, sizeof windows);
    ASSERT_TRUE(length > 0 && length < sizeof windows);
    dir_ = std::string(windows, length);
    if (std::filesystem::exists(dir_ / "cnf.INI")) {
      std::filesystem::rename(dir_ / "cnf.INI", dir_ / "cnf.INI.vu30-e2e");
      saved_ = true;
    }
#else
    std::string pattern = (std::filesystem::temp_directory_path() / "vu30-e2e-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
#endif
    std::ofstream ini(dir_ / "cnf.INI");
    ini << "[COMTypeTRK]\r\n";
    for (int post = 1; post < 30; ++post) {
      ini << "COM_" << post << "_TYPE=" << PostSetup(post).portType << "\r\n"
          << "COM_" << post << "_IMPL=" << PostSetup(post).impulsesPerLitre << "\r\n";
    }
    ini.close();
#if !defined(_WIN32)
    ASSERT_EQ(setenv("WINDIR", dir_.c_str(), 1), 0);
#endif
  }
  void TearDown() override {
#if defined(_WIN32)
    std::filesystem::remove(dir_ / "cnf.INI");
    if (saved_) std::filesystem::rename(dir_ / "cnf.INI.vu30-e2e", dir_ / "cnf.INI");
#else
    std::filesystem::remove_all(dir_);
#endif
  }

 private:
  std::filesystem::path dir_;
  bool saved_ = false;
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new WindowsDirectory);

// With VU30_E2E_TRACE set to a folder, every station runs through the line
// trace, one file per driver object: the driver must not tell it is there.
Vu30Dispatcher* TraceIfAsked(Vu30Dispatcher* inner) {
  const char* folder = getenv("VU30_E2E_TRACE");
  if (folder == nullptr) return nullptr;
  static int stations = 0;
  std::filesystem::create_directories(folder);
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string path = (std::filesystem::path(folder) / (std::string(test->name()) + "-" +
                                                             std::to_string(++stations) + ".trace"))
                               .string();
  Vu30Dispatcher* traced = vu30_trace_open(inner, path.c_str(), VU30_TRACE_DEFAULTS);
  EXPECT_NE(traced, nullptr) << "cannot trace into " << path;
  return traced;
}

// What the host read of one sale.
struct HostSale {
  double volume = 0;
  double money = 0;
  double counterBefore = 0;
  double counterAfter = 0;
  uint32_t stateAfterStart = 0;
};

// A host: the driver object over a simulator, and the steps of a sale.
class Station {
 public:
  explicit Station(const Vu30SimOptions& options, int posts = 1) : sim_(options) {
    for (int post = 1; post <= posts; ++post) {
      sim_.ConfigurePost(post, PostSetup(post));
      for (int n = 1; n <= 4; ++n) sim_.SetCounter(post, n, 1000000LL * post + 10000LL * n);
    }
    traced_ = TraceIfAsked(sim_.Dispatcher());
    driver_ = host::HostGetVU30(&GetVU30, 0, nullptr, traced_ ? traced_ : sim_.Dispatcher());
    for (int post = 1; post <= posts; ++post) t().OpenPost(driver_, post);
  }
  ~Station() {
    sim_.ForgetCallbacks();
    t().Destroy(driver_);
    vu30_trace_close(traced_);
  }
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // The table as a host catches its errors (call_into_library.h).
  const Vu30DriverTable& t() const { return *host::HostTable(driver_->table); }
  Vu30Driver* d() const { return driver_; }
  Forecourt& sim() { return sim_; }

  // Repeats op until it neither raises ESerialIO nor leaves the link failed.
  template <typename Op>
  void Retry(int post, Op op) {
    for (int attempt = 0; attempt < 40; ++attempt) {
      try {
        op();
        if (t().GetLinkStatus(driver_, static_cast<uint8_t>(post)) == VU30_LINK_GOOD) return;
      } catch (const ESerialIO&) {
      }
    }
    FAIL() << "operation keeps failing on post " << post;
  }

  uint32_t State(int post) {
    try {
      return t().GetPumpState(driver_, static_cast<uint8_t>(post), 0);
    } catch (const ESerialIO&) {
      return 0;
    }
  }

  double Counter(int post, int nozzle) {
    double counter = -1;
    double second = -1;
    Retry(post, [&] { t().ReadCounter(driver_, post, 0, nozzle, &counter, &second, 0, 0); });
    EXPECT_EQ(second, 0.0);
    return counter;
  }

  // Lift, start, dispense, read: the host's part of one sale whose price and
  // preset are already set. Polls the running figures into running.
  HostSale Sell(int post, int nozzle, std::vector<double>* running = nullptr) {
    HostSale s;
    const uint32_t before = sim_.SaleCount(post);
    s.counterBefore = Counter(post, nozzle);
    sim_.LiftNozzle(post, nozzle);
    EXPECT_TRUE(Until(10s, [&] { return sim_.Phase(post) != VU30_SIM_PRICE_REQUESTED; }));
    Retry(post, [&] { t().StartPump(driver_, post, 0, 0); });
    const auto done = [&] { return sim_.SaleCount(post) > before; };
    EXPECT_TRUE(Until(10s, [&] {
      s.stateAfterStart = State(post);
      return s.stateAfterStart == 0xD8u + static_cast<uint32_t>(nozzle) || done();
    }));
    EXPECT_TRUE(Until(20s, [&] {
      const uint32_t state = State(post);
      if (state == 0xD8u + static_cast<uint32_t>(nozzle) && running != nullptr) {
        double money = 0;
        try {
          const double v = t().PollDispense(driver_, post, 1, &money);
          if (t().GetLinkStatus(driver_, static_cast<uint8_t>(post)) == VU30_LINK_GOOD) {
            running->push_back(v);
          }
        } catch (const ESerialIO&) {
        }
      }
      return done() && state == 0xC0 && sim_.Phase(post) == VU30_SIM_IDLE;
    }));
    Retry(post, [&] { t().ReadFinalDispense(driver_, post, 0, &s.volume, &s.money); });
    s.counterAfter = Counter(post, nozzle);
    return s;
  }

  // The host's figures agree with the dispenser's record of the same sale.
  static void ExpectAgrees(const HostSale& h, const Vu30SimSale& d) {
    EXPECT_EQ(std::llround(h.volume * 100), d.volume);
    EXPECT_EQ(std::llround(h.counterBefore * 100), d.counterBefore);
    EXPECT_EQ(std::llround(h.counterAfter * 100), d.counterAfter);
    EXPECT_NEAR(h.money * 100, static_cast<double>(d.money), 0.5 + 1e-6);
  }

  template <typename Pred>
  static bool Until(std::chrono::milliseconds timeout, Pred pred) {
    const auto deadline = Clock::now() + timeout;
    while (!pred()) {
      if (Clock::now() > deadline) return false;
      std::this_thread::sleep_for(10ms);
    }
    return true;
  }

 private:
  Forecourt sim_;
  Vu30Dispatcher* traced_ = nullptr;
  Vu30Driver* driver_ = nullptr;
};

Vu30SimOptions Instant(uint32_t faultRatePpm = 0, uint64_t seed = 1) {
  Vu30SimOptions o = Forecourt::DefaultOptions();
  o.baud = 0;
  o.repeatTimeoutMs = 150;
  o.faultRatePpm = faultRatePpm;
  o.seed = seed;
  return o;
}

TEST(EndToEnd, VolumePresetSaleOnOnePost) {
  Station st(Instant());
  st.t().SetPrice(st.d(), 1, 0, 3, 0, 0, 41.3);
  EXPECT_EQ(st.sim().Price(1, 3), 4130);
  st.t().PresetVolume(st.d(), 1, 0, 3, 0, 12.34);
  std::vector<double> running;
  const HostSale h = st.Sell(1, 3, &running);

  const auto sales = st.sim().Sales(1);
  ASSERT_EQ(sales.size(), 1u);
  EXPECT_EQ(sales[0].volume, 1234);
  EXPECT_EQ(sales[0].nozzle, 3);
  EXPECT_EQ(h.stateAfterStart, 0xDBu);
  Station::ExpectAgrees(h, sales[0]);
  EXPECT_DOUBLE_EQ(h.volume, 12.34);
  EXPECT_NEAR(h.money, 509.642, 1e-9);
  for (double v : running) EXPECT_LE(v, 12.34 + 1e-9);
  EXPECT_EQ(st.State(1), 0xC0u);
  EXPECT_EQ(st.sim().LineSettings(1), 0x030004B0u);
}

// Type 1 with 50 impulses per litre: the running volume arrives in impulses;
// the money preset buys the volume the price allows, in whole hundredths.
TEST(EndToEnd, MoneyPresetSaleOnAnImpulsePost) {
  Station st(Instant(), 2);
  EXPECT_EQ(st.sim().LineSettings(2), 0x040004B0u);
  st.sim().ConfigurePost(2, Vu30SimPostConfig{1, 50, 4, 400});  // slow enough to be polled
  st.t().SetPrice(st.d(), 2, 0, 1, 0, 0, 41.3);
  st.t().PresetMoney(st.d(), 2, 0, 1, 0, 500.0);
  std::vector<double> running;
  const HostSale h = st.Sell(2, 1, &running);

  const auto sales = st.sim().Sales(2);
  ASSERT_EQ(sales.size(), 1u);
  EXPECT_EQ(sales[0].volume, 1211) << "500 / 41.30 = 12.1065 L";
  Station::ExpectAgrees(h, sales[0]);
  EXPECT_NEAR(h.money, 500.143, 1e-9);
  ASSERT_FALSE(running.empty());
  for (double v : running) {
    EXPECT_LE(v, 12.11 + 1e-9);
    // Impulses of 1/50 L: every running volume is a whole number of them.
    EXPECT_NEAR(v * 50, std::round(v * 50), 1e-6);
  }
}

// A dose request the host has no preset for is refused; nothing flows, and
// the host reads zero figures for it.
TEST(EndToEnd, RefusedDoseDispensesNothing) {
  Station st(Instant());
  st.t().SetPrice(st.d(), 1, 0, 1, 0, 0, 30.0);
  st.t().SetPrice(st.d(), 1, 0, 2, 0, 0, 31.0);

  // No preset at all yet.
  HostSale h = st.Sell(1, 2);
  auto sales = st.sim().Sales(1);
  ASSERT_EQ(sales.size(), 1u);
  EXPECT_TRUE(sales[0].refused);
  Station::ExpectAgrees(h, sales[0]);
  EXPECT_EQ(h.volume, 0.0);

  // A preset for nozzle 1 while the customer takes nozzle 2.
  st.t().PresetVolume(st.d(), 1, 0, 1, 0, 5.0);
  h = st.Sell(1, 2);
  sales = st.sim().Sales(1);
  ASSERT_EQ(sales.size(), 2u);
  EXPECT_TRUE(sales[1].refused);
  Station::ExpectAgrees(h, sales[1]);
  EXPECT_EQ(st.sim().Counter(1, 2), sales[0].counterBefore);

  // The right nozzle then sells normally.
  h = st.Sell(1, 1);
  sales = st.sim().Sales(1);
  ASSERT_EQ(sales.size(), 3u);
  EXPECT_FALSE(sales[2].refused);
  EXPECT_EQ(sales[2].volume, 500);
  Station::ExpectAgrees(h, sales[2]);
}

// Runs sales on posts 1..posts at once, one host thread per post, and checks
// every sale the dispensers recorded against what its host read.
void RunParallelSales(Station& st, int posts, int salesPerPost) {
  std::vector<std::vector<HostSale>> read(static_cast<size_t>(posts) + 1);
  std::vector<std::thread> threads;
  for (int post = 1; post <= posts; ++post) {
    threads.emplace_back([&, post] {
      for (int s = 0; s < salesPerPost; ++s) {
        const int nozzle = s % 2 + 1;
        st.Retry(post,
                 [&] { st.t().SetPrice(st.d(), post, 0, nozzle, 0, 0, 35.0 + post + s * 0.37); });
        if (s % 2 == 0) {
          st.t().PresetVolume(st.d(), post, 0, nozzle, 0, 3.0 + post * 0.25 + s);
        } else {
          st.t().PresetMoney(st.d(), post, 0, nozzle, 0, 150.0 + post * 7);
        }
        read[static_cast<size_t>(post)].push_back(st.Sell(post, nozzle));
      }
    });
  }
  for (auto& thread : threads) thread.join();

  for (int post = 1; post <= posts; ++post) {
    SCOPED_TRACE("post " + std::to_string(post));
    const auto sales = st.sim().Sales(post);
    const auto& host = read[static_cast<size_t>(post)];
    ASSERT_EQ(sales.size(), host.size()) << "every completed sale was read back";
    int delivered = 0;
    for (size_t i = 0; i < sales.size(); ++i) {
      Station::ExpectAgrees(host[i], sales[i]);
      if (!sales[i].refused) ++delivered;
    }
    // Faults may cost a start (the dose is then refused), never a figure.
    EXPECT_GT(delivered, 0);
  }
}

TEST(EndToEnd, ManyPostsAtOnce) {
  Station st(Instant(), 6);
  RunParallelSales(st, 6, 2);
  for (int post = 1; post <= 6; ++post) {
    for (const Vu30SimSale& s : st.sim().Sales(post)) EXPECT_FALSE(s.refused);
  }
}

TEST(EndToEnd, ManyPostsWithInjectedFaults) {
  Station st(Instant(60000, 11), 4);
  RunParallelSales(st, 4, 2);
  const Forecourt& s = st.sim();
  EXPECT_GT(s.FaultCount(VU30_SIM_FAULT_WRONG_LENGTH) +
                s.FaultCount(VU30_SIM_FAULT_MALFORMED_BYTE) +
                s.FaultCount(VU30_SIM_FAULT_FAILED_RESULT) + s.FaultCount(VU30_SIM_FAULT_RAISED) +
                s.FaultCount(VU30_SIM_FAULT_LOST_MESSAGE),
            0u);
}

TEST(EndToEnd, RealLineTimingOnTwoPosts) {
  Vu30SimOptions o = Instant();
  o.baud = 9600;
  Station st(o, 2);
  RunParallelSales(st, 2, 1);
}

// The demo's station gives up on a post that stops answering while a sale
// runs, and reports it, instead of polling it for ever; the other post
// still sells.
TEST(EndToEnd, DemoReportsAPostThatStopsAnswering) {
  demo::StationOptions options;
  options.library = VU30_E2E_LIBRARY;
  options.posts = 2;
  options.sales = 1;
  options.baud = 0;
  options.stallTimeout = std::chrono::milliseconds(500);
  options.whileDispensing = [](Vu30Sim* sim, int post) {
    if (post == 1) vu30_sim_fail_frames(sim, post, VU30_SIM_FAULT_FAILED_RESULT, 1u << 30);
  };
  const demo::StationResult result = demo::Station(options).Run([](const demo::PostView&) {});
  ASSERT_EQ(result.errors.size(), 1u);
  EXPECT_TRUE(result.errors[0].starts_with("post 1: the post stopped answering"))
      << result.errors[0];
  ASSERT_EQ(result.sales.size(), 1u);
  EXPECT_EQ(result.sales[0].post, 2);
  EXPECT_TRUE(result.sales[0].problem.empty()) << result.sales[0].problem;
}

}  // namespace
}  // namespace vu30::e2e
