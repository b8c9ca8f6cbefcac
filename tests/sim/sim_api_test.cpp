// SPDX-License-Identifier: MIT
// The simulator's C interface (vu30_sim.h), through the shared library as a
// host gets it: refused calls say why and change nothing; the customer's and
// the line's calls move a post as documented.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
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

}  // namespace
