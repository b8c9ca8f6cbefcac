// SPDX-License-Identifier: MIT
// The simulator's C interface (vu30_sim.h), through the shared library as a
// host gets it: refused calls say why and change nothing; the customer's and
// the line's calls move a post as documented.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

#include "vu30_sim.h"

namespace {

struct SimDeleter {
  void operator()(Vu30Sim* sim) const { vu30_sim_destroy(sim); }
};
using SimPtr = std::unique_ptr<Vu30Sim, SimDeleter>;

SimPtr Instant() {
  Vu30SimOptions options;
  EXPECT_EQ(vu30_sim_default_options(&options), VU30_SIM_OK);
  options.baud = 0;
  options.reactionTimeMs = 0;
  Vu30Sim* sim = nullptr;
  EXPECT_EQ(vu30_sim_create(&options, &sim), VU30_SIM_OK);
  return SimPtr(sim);
}

// The line byte of a digit (four complementary bit pairs, bit 0 on top).
uint8_t Coded(uint8_t digit) {
  uint8_t line = 0;
  for (int bit = 0; bit < 4; ++bit) {
    line = static_cast<uint8_t>((line << 2) | (((digit >> bit) & 1) != 0 ? 1 : 2));
  }
  return line;
}

// Counter of nozzle 1 on post 1, straight through the dispatcher's Transact.
int32_t AskCounter(Vu30Sim* sim) {
  Vu30Dispatcher* d = vu30_sim_dispatcher(sim);
  const uint8_t request[] = {Coded(3), Coded(0)};
  uint8_t reply[13] = {};
  return d->table->Transact(d, 1, 1, request, 2, reply, 13, Coded(3));
}

TEST(SimInterface, RefusedCallsSayWhyAndChangeNothing) {
  SimPtr owned = Instant();
  Vu30Sim* sim = owned.get();
  ASSERT_NE(sim, nullptr);
  ASSERT_EQ(vu30_sim_set_counter(sim, 2, 3, 4567), VU30_SIM_OK);
  EXPECT_STREQ(vu30_sim_last_error(), "");

  const auto refused = [](int32_t result, const char* says) {
    EXPECT_EQ(result, VU30_SIM_BAD_ARGUMENT);
    EXPECT_NE(std::string(vu30_sim_last_error()).find(says), std::string::npos)
        << vu30_sim_last_error();
  };
  refused(vu30_sim_set_counter(nullptr, 2, 3, 1), "null handle");
  refused(vu30_sim_set_counter(sim, 31, 3, 1), "post");
  refused(vu30_sim_set_counter(sim, 2, 9, 1), "nozzle");
  refused(vu30_sim_set_counter(sim, 2, 3, 10'000'000'000LL), "10 digits");
  refused(vu30_sim_set_counter(sim, 2, 3, -1), "10 digits");
  int64_t counter = 0;
  ASSERT_EQ(vu30_sim_counter(sim, 2, 3, &counter), VU30_SIM_OK);
  EXPECT_EQ(counter, 4567);

  const Vu30SimPostConfig two = {0, 100, 2, 2000};
  ASSERT_EQ(vu30_sim_configure_post(sim, 2, &two), VU30_SIM_OK);
  for (Vu30SimPostConfig bad :
       {Vu30SimPostConfig{4, 100, 4, 2000}, Vu30SimPostConfig{1, 0, 4, 2000},
        Vu30SimPostConfig{0, 100, 9, 2000}, Vu30SimPostConfig{0, 100, 4, 0}}) {
    EXPECT_EQ(vu30_sim_configure_post(sim, 2, &bad), VU30_SIM_BAD_ARGUMENT);
  }
  refused(vu30_sim_configure_post(sim, 2, nullptr), "null");
  // Still two nozzles: the third is not there to lift.
  refused(vu30_sim_lift_nozzle(sim, 2, 3), "no such nozzle");

  refused(vu30_sim_fail_frames(sim, 2, VU30_SIM_FAULT_FAILED_RESULT | VU30_SIM_FAULT_RAISED, 1),
          "fault");
  refused(vu30_sim_fail_frames(sim, 2, VU30_SIM_FAULT_LOST_MESSAGE, 1), "fault");
  refused(vu30_sim_set_fault_rate(sim, 1'000'001), "rate");
  refused(vu30_sim_wait_phase(sim, 2, 6, 0), "phase");

  Vu30SimOptions options;
  vu30_sim_default_options(&options);
  options.repeatTimeoutMs = 0;
  Vu30Sim* none = nullptr;
  refused(vu30_sim_create(&options, &none), "repeat");
  EXPECT_EQ(none, nullptr);
  vu30_sim_default_options(&options);
  options.faultKinds = 0x20;
  refused(vu30_sim_create(&options, &none), "fault kind");
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(vu30_sim_dispatcher(nullptr), nullptr);
  vu30_sim_destroy(nullptr);
}

TEST(SimInterface, TheCustomerMovesThePost) {
  SimPtr owned = Instant();
  Vu30Sim* sim = owned.get();
  int32_t phase = -1;
  ASSERT_EQ(vu30_sim_lift_nozzle(sim, 5, 2), VU30_SIM_OK);
  ASSERT_EQ(vu30_sim_phase(sim, 5, &phase), VU30_SIM_OK);
  EXPECT_EQ(phase, VU30_SIM_PRICE_REQUESTED);
  EXPECT_EQ(vu30_sim_lift_nozzle(sim, 5, 1), VU30_SIM_WRONG_STATE);
  EXPECT_EQ(vu30_sim_stop_flow(sim, 5), VU30_SIM_WRONG_STATE) << "nothing flows yet";

  // Hung up before any dose: idle again, without a sale.
  ASSERT_EQ(vu30_sim_hang_up(sim, 5), VU30_SIM_OK);
  EXPECT_EQ(vu30_sim_wait_phase(sim, 5, VU30_SIM_IDLE, 0), VU30_SIM_OK);
  uint32_t count = 99;
  ASSERT_EQ(vu30_sim_sale_count(sim, 5, &count), VU30_SIM_OK);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(vu30_sim_wait_sales(sim, 5, 1, 1), VU30_SIM_TIMED_OUT);
  Vu30SimSale sale;
  EXPECT_EQ(vu30_sim_sale(sim, 5, 0, &sale), VU30_SIM_NOT_FOUND);
  EXPECT_EQ(vu30_sim_lift_nozzle(sim, 5, 1), VU30_SIM_OK) << "the post is free again";
}

TEST(SimInterface, OrderedFaultsHitTheNextFramesOfOnePost) {
  SimPtr owned = Instant();
  Vu30Sim* sim = owned.get();
  ASSERT_EQ(vu30_sim_fail_frames(sim, 1, VU30_SIM_FAULT_FAILED_RESULT, 2), VU30_SIM_OK);
  EXPECT_EQ(AskCounter(sim), VU30_SIM_RESULT_LINE_FAULT);
  uint8_t status = 0;
  int32_t error = 0;
  ASSERT_EQ(vu30_sim_channel(sim, 1, &status, &error), VU30_SIM_OK);
  EXPECT_EQ(status, VU30_LINK_FAILED);
  EXPECT_EQ(error, VU30_SIM_RESULT_LINE_FAULT);
  EXPECT_EQ(AskCounter(sim), VU30_SIM_RESULT_LINE_FAULT);
  EXPECT_EQ(AskCounter(sim), 0) << "two frames ordered, two failed";
  uint64_t failed = 0;
  ASSERT_EQ(vu30_sim_fault_count(sim, VU30_SIM_FAULT_FAILED_RESULT, &failed), VU30_SIM_OK);
  EXPECT_EQ(failed, 2u);

#if !defined(_WIN32)
  // A raised fault leaves through Transact (into the driver) only.
  ASSERT_EQ(vu30_sim_fail_frames(sim, 1, VU30_SIM_FAULT_RAISED, 1), VU30_SIM_OK);
  EXPECT_THROW(AskCounter(sim), std::runtime_error);
  EXPECT_EQ(AskCounter(sim), 0);
#endif
}

// What the last call left in vu30_sim_last_error() holds every one of says.
void ExpectSays(std::initializer_list<const char*> says) {
  const std::string message = vu30_sim_last_error();
  for (const char* part : says) EXPECT_NE(message.find(part), std::string::npos) << message;
}

TEST(SimInterface, TimedOutWaitsSayWhereThePostStands) {
  SimPtr owned = Instant();
  Vu30Sim* sim = owned.get();
  ASSERT_EQ(vu30_sim_lift_nozzle(sim, 5, 2), VU30_SIM_OK);
  EXPECT_EQ(vu30_sim_wait_phase(sim, 5, VU30_SIM_FLOWING, 3), VU30_SIM_TIMED_OUT);
  ExpectSays({"3 ms", "post 5", "fuel flowing", "price request outstanding", "nozzle 2", "0 sales",
              "has not registered"});
  EXPECT_EQ(vu30_sim_wait_sales(sim, 5, 1, 2), VU30_SIM_TIMED_OUT);
  ExpectSays({"2 ms", "1 completed sales of post 5", "price request outstanding"});
  EXPECT_EQ(vu30_sim_wait_phase(sim, 5, VU30_SIM_PRICE_REQUESTED, 0), VU30_SIM_OK);
  EXPECT_STREQ(vu30_sim_last_error(), "");
}

TEST(SimInterface, TheDriversLineSetUpIsCheckedAgainstThePostsType) {
  SimPtr owned = Instant();
  Vu30Sim* sim = owned.get();
  const Vu30SimPostConfig fas = {1, 50, 4, 2000};
  ASSERT_EQ(vu30_sim_configure_post(sim, 2, &fas), VU30_SIM_OK);
  EXPECT_EQ(vu30_sim_check_post_type(sim, 2), VU30_SIM_WRONG_STATE);
  ExpectSays({"post 2", "not configured"});

  // The driver took post 2 for type 0 (no cnf.INI entry).
  Vu30Dispatcher* d = vu30_sim_dispatcher(sim);
  ASSERT_EQ(d->table->ConfigureChannel(d, 2, VU30_CONFIGURE_MODE, 0x030004B0), 0);
  EXPECT_EQ(vu30_sim_check_post_type(sim, 2), VU30_SIM_WRONG_STATE);
  ExpectSays({"type 1", "type 0", "0x030004B0", "COM_2_TYPE=1"});
  // A timed-out wait names it too.
  EXPECT_EQ(vu30_sim_wait_sales(sim, 2, 1, 0), VU30_SIM_TIMED_OUT);
  ExpectSays({"COM_2_TYPE=1"});

  ASSERT_EQ(d->table->ConfigureChannel(d, 2, VU30_CONFIGURE_MODE, 0x040004B0), 0);
  EXPECT_EQ(vu30_sim_check_post_type(sim, 2), VU30_SIM_OK);
  ASSERT_EQ(d->table->ConfigureChannel(d, 3, VU30_CONFIGURE_MODE, 0x050004B0), 0);
  EXPECT_EQ(vu30_sim_check_post_type(sim, 3), VU30_SIM_WRONG_STATE) << "type 2's line, type 0";
}

TEST(SimInterface, WritesACnfIniOfTheSimulatedPosts) {
  SimPtr owned = Instant();
  Vu30Sim* sim = owned.get();
  const auto folder =
      std::filesystem::temp_directory_path() /
      ("vu30-sim-ini-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  std::filesystem::create_directories(folder);
  const auto ini = folder / "cnf.INI";
  std::ofstream(ini, std::ios::binary)
      << "[Other]\r\nKey=kept\r\n[COMTypeTRK]\r\nCOM_0_TYPE=2\r\nCOM_3_TYPE=0\r\n";

  const Vu30SimPostConfig er112 = {3, 20, 4, 2000};
  ASSERT_EQ(vu30_sim_configure_post(sim, 3, &er112), VU30_SIM_OK);
  ASSERT_EQ(vu30_sim_write_port_types(sim, folder.string().c_str()), VU30_SIM_OK)
      << vu30_sim_last_error();
  std::stringstream text;
  text << std::ifstream(ini, std::ios::binary).rdbuf();
  for (const char* line : {"Key=kept", "COM_0_TYPE=2", "COM_3_TYPE=3\r\n", "COM_3_IMPL=20\r\n",
                           "COM_1_TYPE=0\r\nCOM_1_IMPL=100", "COM_29_IMPL=100"}) {
    EXPECT_NE(text.str().find(line), std::string::npos) << line << " in\n" << text.str();
  }
  EXPECT_EQ(text.str().find("COM_30_"), std::string::npos) << "post 30 takes no type from it";

  EXPECT_EQ(vu30_sim_write_port_types(sim, (folder / "missing").string().c_str()), VU30_SIM_FAILED);
  ExpectSays({"missing"});
  EXPECT_EQ(vu30_sim_write_port_types(sim, nullptr), VU30_SIM_BAD_ARGUMENT);
  ASSERT_EQ(vu30_sim_configure_post(sim, 30, &er112), VU30_SIM_OK);
  EXPECT_EQ(vu30_sim_write_port_types(sim, folder.string().c_str()), VU30_SIM_WRONG_STATE);
  ExpectSays({"post 30"});
  std::filesystem::remove_all(folder);
}

}  // namespace
