/* SPDX-License-Identifier: MIT */
/*
 * vu30-sim-rig: a station host tested without a forecourt, in plain C.
 *
 * The host hands the dispenser simulator's port dispatcher (vu30_sim.h) to
 * GetVU30 instead of its own, and plays the customer through the simulator:
 * it sells 12.34 L at 41.30 on post 1, nozzle 3, and checks what the driver
 * reports against what the simulated dispenser measured: volume, money to
 * the cent, the counter before and after. Then it sells again while the line
 * loses the dispenser's next message (the price request) and fails the
 * driver's answer to the dose request once: the dispenser repeats both, and
 * the sale still agrees.
 * Exits 0 when everything agrees.
 *
 * Errors: the driver reports a failed exchange as a C++ exception, which C
 * cannot catch, so this host makes only calls that the simulator's faults
 * cannot fail (the dispenser's messages and the driver's answers to them go
 * through the driver's own worker, which repeats them).
 */
#include <stdio.h>
#include <vu30.h>
#include <vu30_sim.h>

#define POST 1
#define NOZZLE 3
#define TIMEOUT_MS 20000u

static int failures = 0;

static void Check(int ok, const char* what) {
  printf("  %-56s %s\n", what, ok ? "ok" : "FAILED");
  if (!ok) ++failures;
}

static long long Hundredths(double value) {
  return (long long)(value * 100.0 + (value < 0 ? -0.5 : 0.5));
}

/* One sale of presetLitres on POST/NOZZLE; checks the driver's figures
 * against the simulator's record of the sale at index. */
static void Sell(Vu30Sim* sim, Vu30Driver* driver, double presetLitres, uint32_t index,
                 int faulty) {
  const Vu30DriverTable* t = driver->table;
  double before = 0.0, after = 0.0, second = 0.0, volume = 0.0, money = 0.0;
  t->ReadCounter(driver, POST, 0, NOZZLE, &before, &second, 0, 0);
  t->PresetVolume(driver, POST, 0, NOZZLE, 0, presetLitres);

  /* [snippet:sale] */
  /* The customer lifts the nozzle; the driver answers the price request. */
  Check(vu30_sim_lift_nozzle(sim, POST, NOZZLE) == VU30_SIM_OK, "nozzle lifted");
  Check(vu30_sim_wait_phase(sim, POST, VU30_SIM_AWAITING_START, TIMEOUT_MS) == VU30_SIM_OK,
        "the driver answered the price request");
  /* [/snippet] */
  /* The host starts the post; the dispenser asks for the dose, the fuel flows,
   * the dispenser reports the end and the driver acknowledges it. */
  t->StartPump(driver, POST, 0, 0);
  if (faulty) {
    /* The next frame on the line, the driver's answer to the dose request,
     * fails: the dispenser hears nothing and asks again. */
    vu30_sim_fail_frames(sim, POST, VU30_SIM_FAULT_FAILED_RESULT, 1);
  }
  /* [snippet:sale-ended] */
  Check(vu30_sim_wait_sales(sim, POST, index + 1, TIMEOUT_MS) == VU30_SIM_OK, "the sale ended");
  /* [/snippet] */
  Check(vu30_sim_wait_phase(sim, POST, VU30_SIM_IDLE, TIMEOUT_MS) == VU30_SIM_OK,
        "the driver acknowledged the end report");

  t->ReadFinalDispense(driver, POST, 0, &volume, &money);
  t->ReadCounter(driver, POST, 0, NOZZLE, &after, &second, 0, 0);
  Vu30SimSale sale;
  Check(vu30_sim_sale(sim, POST, index, &sale) == VU30_SIM_OK, "the simulator's record read");
  printf("  driver: %.2f L, %.2f, counter %.2f -> %.2f\n", volume, money, before, after);
  printf("  dispenser: %lld.%02lld L at %d.%02d, %lld.%02lld, counter %lld -> %lld\n",
         (long long)sale.volume / 100, (long long)sale.volume % 100, sale.price / 100,
         sale.price % 100, (long long)sale.money / 100, (long long)sale.money % 100,
         (long long)sale.counterBefore, (long long)sale.counterAfter);
  Check(!sale.refused && sale.volume == Hundredths(presetLitres), "the preset was dispensed");
  Check(Hundredths(volume) == sale.volume, "volume agrees");
  Check(Hundredths(money) == sale.money, "money agrees to the cent");
  Check(Hundredths(before) == sale.counterBefore && Hundredths(after) == sale.counterAfter,
        "counters agree");
  Check(t->GetLinkStatus(driver, POST) == VU30_LINK_GOOD, "the link is good");
}

int main(void) {
  /* [snippet:swap] */
  Vu30SimOptions options;
  Vu30Sim* sim = NULL;
  vu30_sim_default_options(&options);
  options.baud = 0; /* every frame at once */
  options.repeatTimeoutMs = 100;
  if (vu30_sim_create(&options, &sim) != VU30_SIM_OK) {
    printf("vu30_sim_create: %s\n", vu30_sim_last_error());
    return 1;
  }
  const Vu30SimPostConfig config = {0, 100, 4, 2000}; /* type 0, 4 nozzles, 20 L/s */
  vu30_sim_configure_post(sim, POST, &config);
  vu30_sim_set_counter(sim, POST, NOZZLE, 123456); /* 1234.56 L */
  /* [/snippet] */

  printf("vu30 simulator rig (C)\n");
  /* [snippet:driver] */
  Vu30Driver* driver = GetVU30(0, NULL, vu30_sim_dispatcher(sim));
  /* [/snippet] */
  if (driver == NULL) {
    printf("GetVU30 returned no driver\n");
    vu30_sim_destroy(sim);
    return 1;
  }
  const Vu30DriverTable* t = driver->table;
  t->OpenPost(driver, POST);
  t->SetPrice(driver, POST, 0, NOZZLE, 0, 0, 41.30);
  int32_t price = 0;
  vu30_sim_price(sim, POST, NOZZLE, &price);
  Check(price == 4130, "the dispenser holds the price");

  printf("a sale:\n");
  Sell(sim, driver, 12.34, 0, 0);

  printf("a sale on a faulty line:\n");
  /* [snippet:fault] */
  vu30_sim_lose_messages(sim, POST, 1);
  /* [/snippet] */
  Sell(sim, driver, 5.0, 1, 1);
  uint64_t lost = 0;
  vu30_sim_fault_count(sim, VU30_SIM_FAULT_LOST_MESSAGE, &lost);
  Check(lost == 1, "one message was lost and sent again");
  uint64_t failed = 0;
  vu30_sim_fault_count(sim, VU30_SIM_FAULT_FAILED_RESULT, &failed);
  Check(failed == 1, "one frame failed and was sent again");

  /* A refused call changes nothing and says why. */
  Check(vu30_sim_lift_nozzle(sim, POST, 9) == VU30_SIM_BAD_ARGUMENT, "nozzle 9 refused");
  printf("  (%s)\n", vu30_sim_last_error());

  /* [snippet:end] */
  vu30_sim_forget_callbacks(sim);
  t->Destroy(driver);
  vu30_sim_destroy(sim);
  /* [/snippet] */
  printf("%s\n", failures == 0 ? "all agree" : "MISMATCH");
  return failures == 0 ? 0 : 1;
}
