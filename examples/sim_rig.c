/* SPDX-License-Identifier: MIT */
/*
 * vu30-sim-rig: a station host tested without a forecourt, in plain C.
 *
 * The host hands the dispenser simulator's port dispatcher (vu30_sim.h) to
 * the driver instead of its own, and plays the customer through the
 * simulator. Its forecourt has two dispenser types: post 1 an "ЕС-2000"
 * (type 0), post 2 a "FAS" (type 1) that counts 50 impulses a litre. The
 * driver takes each post's type from cnf.INI, so the rig first writes one
 * that matches the simulated posts (vu30_sim_write_port_types) into the
 * folder the driver reads it from, and checks after opening each post that
 * the driver set its line up for the simulated type.
 *
 * It sells 12.34 L at 41.30 on post 1, nozzle 3, and 7.50 L on post 2, and
 * checks what the driver reports against what the simulated dispenser
 * measured: volume, money to the cent, the counter before and after. Then
 * it sells again on post 1 while the line loses the dispenser's next message
 * (the price request) and fails the driver's answer to the dose request
 * once: the dispenser repeats both, and the sale still agrees.
 * Exits 0 when everything agrees.
 *
 * Errors: every driver call goes through the error-returning calls
 * (vu30_calls.h), so a refused call or a failed exchange comes back as a
 * kind and a message instead of ending the program.
 *
 * cnf.INI: the driver reads it from the folder named by WINDIR; the rig
 * uses the working folder when WINDIR is not set. A cnf.INI already there
 * is put aside while the rig runs and put back at the end.
 *
 *   cc sim_rig.c $(pkg-config --cflags --libs vu30-sim vu30-calls) -o vu30-sim-rig
 */
#define _POSIX_C_SOURCE 200112L /* setenv */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vu30_calls.h>
#include <vu30_sim.h>

#define NOZZLE 3
#define TIMEOUT_MS 20000u

static int failures = 0;
static char text[VU30_CALLS_MESSAGE_CAPACITY];

static void Check(int ok, const char* what) {
  printf("  %-56s %s\n", what, ok ? "ok" : "FAILED");
  if (!ok) ++failures;
}

/* A driver call's result: 0, or its error's kind and message printed. */
static int Called(uint32_t kind, const char* what) {
  if (kind != 0) {
    printf("  %s: error kind %u: %s\n", what, (unsigned)kind, text);
    ++failures;
  }
  return kind == 0;
}

/* A wait's result; a time-out printed with where the post stands. */
static int Waited(int32_t result, const char* what) {
  if (result != VU30_SIM_OK) printf("  %s: %s\n", what, vu30_sim_last_error());
  return result == VU30_SIM_OK;
}

static long long Hundredths(double value) {
  return (long long)(value * 100.0 + (value < 0 ? -0.5 : 0.5));
}

/* One sale of presetLitres on post, NOZZLE; checks the driver's figures
 * against the simulator's record of the post's sale at index. */
static void Sell(Vu30Sim* sim, Vu30Driver* driver, uint8_t post, double presetLitres,
                 uint32_t index, int faulty) {
  double before = 0.0, after = 0.0, second = 0.0, volume = 0.0, money = 0.0;
  Called(vu30_call_ReadCounter(driver, post, 0, NOZZLE, &before, &second, 0, 0, text, sizeof text),
         "ReadCounter");
  Called(vu30_call_PresetVolume(driver, post, 0, NOZZLE, 0, presetLitres, text, sizeof text),
         "PresetVolume");

  /* The customer lifts the nozzle; the driver answers the price request. */
  Check(vu30_sim_lift_nozzle(sim, post, NOZZLE) == VU30_SIM_OK, "nozzle lifted");
  Check(Waited(vu30_sim_wait_phase(sim, post, VU30_SIM_AWAITING_START, TIMEOUT_MS), "price"),
        "the driver answered the price request");
  /* The host starts the post; the dispenser asks for the dose, the fuel flows,
   * the dispenser reports the end and the driver acknowledges it. */
  Called(vu30_call_StartPump(driver, post, 0, 0, text, sizeof text), "StartPump");
  if (faulty) {
    /* The next frame on the line, the driver's answer to the dose request,
     * fails: the dispenser hears nothing and asks again. */
    vu30_sim_fail_frames(sim, post, VU30_SIM_FAULT_FAILED_RESULT, 1);
  }
  Check(Waited(vu30_sim_wait_sales(sim, post, index + 1, TIMEOUT_MS), "sale"), "the sale ended");
  Check(Waited(vu30_sim_wait_phase(sim, post, VU30_SIM_IDLE, TIMEOUT_MS), "end"),
        "the driver acknowledged the end report");

  Called(vu30_call_ReadFinalDispense(driver, post, 0, &volume, &money, text, sizeof text),
         "ReadFinalDispense");
  Called(vu30_call_ReadCounter(driver, post, 0, NOZZLE, &after, &second, 0, 0, text, sizeof text),
         "ReadCounter");
  Vu30SimSale sale;
  Check(vu30_sim_sale(sim, post, index, &sale) == VU30_SIM_OK, "the simulator's record read");
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
  uint8_t link = 0;
  Called(vu30_call_GetLinkStatus(driver, post, &link, text, sizeof text), "GetLinkStatus");
  Check(link == VU30_LINK_GOOD, "the link is good");
}

/* Opens post at price on NOZZLE and checks that the driver set the post's
 * line up for the simulated dispenser's type. */
static void Open(Vu30Sim* sim, Vu30Driver* driver, uint8_t post, double price) {
  Called(vu30_call_OpenPost(driver, post, text, sizeof text), "OpenPost");
  if (vu30_sim_check_post_type(sim, post) != VU30_SIM_OK) printf("  %s\n", vu30_sim_last_error());
  Check(vu30_sim_check_post_type(sim, post) == VU30_SIM_OK, "the driver knows the post's type");
  Called(vu30_call_SetPrice(driver, post, 0, NOZZLE, 0, 0, price, text, sizeof text), "SetPrice");
  int32_t held = 0;
  vu30_sim_price(sim, post, NOZZLE, &held);
  Check(held == Hundredths(price), "the dispenser holds the price");
}

int main(void) {
  /* The folder the driver reads cnf.INI from. */
  const char* windir = getenv("WINDIR");
  if (windir == NULL || *windir == '\0') {
    windir = ".";
    setenv("WINDIR", windir, 1);
  }
  char ini[1024], saved[1024];
  snprintf(ini, sizeof ini, "%s/cnf.INI", windir);
  snprintf(saved, sizeof saved, "%s/cnf.INI.vu30-sim-rig", windir);
  const int putAside = rename(ini, saved) == 0;

  Vu30SimOptions options;
  Vu30Sim* sim = NULL;
  vu30_sim_default_options(&options);
  options.baud = 0; /* every frame at once */
  options.repeatTimeoutMs = 100;
  if (vu30_sim_create(&options, &sim) != VU30_SIM_OK) {
    printf("vu30_sim_create: %s\n", vu30_sim_last_error());
    return 1;
  }
  const Vu30SimPostConfig ec2000 = {0, 100, 4, 2000}; /* type 0, 4 nozzles, 20 L/s */
  const Vu30SimPostConfig fas = {1, 50, 4, 2000};     /* type 1, 50 impulses a litre */
  vu30_sim_configure_post(sim, 1, &ec2000);
  vu30_sim_configure_post(sim, 2, &fas);
  vu30_sim_set_counter(sim, 1, NOZZLE, 123456); /* 1234.56 L */
  if (vu30_sim_write_port_types(sim, windir) != VU30_SIM_OK) {
    printf("cnf.INI: %s\n", vu30_sim_last_error());
    vu30_sim_destroy(sim);
    return 1;
  }

  printf("vu30 simulator rig (C)\n");
  Vu30Driver* driver = NULL;
  if (!Called(vu30_call_GetVU30(0, NULL, vu30_sim_dispatcher(sim), &driver, text, sizeof text),
              "GetVU30")) {
    vu30_sim_destroy(sim);
    return 1;
  }
  Open(sim, driver, 1, 41.30);
  Open(sim, driver, 2, 52.10);

  printf("a sale on post 1 (type 0):\n");
  Sell(sim, driver, 1, 12.34, 0, 0);
  printf("a sale on post 2 (type 1, impulses):\n");
  Sell(sim, driver, 2, 7.50, 0, 0);

  printf("a sale on a faulty line:\n");
  vu30_sim_lose_messages(sim, 1, 1);
  Sell(sim, driver, 1, 5.0, 1, 1);
  uint64_t lost = 0;
  vu30_sim_fault_count(sim, VU30_SIM_FAULT_LOST_MESSAGE, &lost);
  Check(lost == 1, "one message was lost and sent again");
  uint64_t failed = 0;
  vu30_sim_fault_count(sim, VU30_SIM_FAULT_FAILED_RESULT, &failed);
  Check(failed == 1, "one frame failed and was sent again");

  /* Refused calls change nothing and say why. */
  Check(vu30_sim_lift_nozzle(sim, 1, 9) == VU30_SIM_BAD_ARGUMENT, "nozzle 9 refused");
  printf("  (%s)\n", vu30_sim_last_error());
  Check(vu30_call_SetPrice(driver, 1, 0, 9, 0, 0, 41.30, text, sizeof text) == VU30_ERROR_REFUSED,
        "the driver refuses nozzle 9 too");
  printf("  (%s)\n", text);

  vu30_sim_forget_callbacks(sim);
  Called(vu30_call_Destroy(driver, text, sizeof text), "Destroy");
  vu30_sim_destroy(sim);
  remove(ini);
  if (putAside) rename(saved, ini);
  printf("%s\n", failures == 0 ? "all agree" : "MISMATCH");
  return failures == 0 ? 0 : 1;
}
