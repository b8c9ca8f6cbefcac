/* SPDX-License-Identifier: MIT */
/*
 * vu30-trace-rig: a station host that records its line in a trace, in
 * plain C.
 *
 * The host puts the line trace (vu30_trace.h) between the driver and its
 * port dispatcher, here the dispenser simulator's (vu30_sim.h): it opens
 * post 1, sets a price and reads a counter, then destroys the driver and
 * closes the trace, which writes the rest of the file. Then
 *   vu30-trace show FILE
 * explains what went over the line.
 *   vu30-trace-rig [FILE]      (default vu30-rig.trace)
 * Exits 0 when the trace holds every exchange and dropped none.
 */
#include <stdio.h>
#include <vu30.h>
#include <vu30_sim.h>
#include <vu30_trace.h>

#define POST 1
#define NOZZLE 2

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : "vu30-rig.trace";
  Vu30SimOptions options;
  Vu30Sim* sim = NULL;
  vu30_sim_default_options(&options);
  options.baud = 0; /* every frame at once */
  if (vu30_sim_create(&options, &sim) != VU30_SIM_OK) {
    printf("vu30_sim_create: %s\n", vu30_sim_last_error());
    return 1;
  }
  Vu30Dispatcher* traced = vu30_trace_open(vu30_sim_dispatcher(sim), path, VU30_TRACE_DEFAULTS);
  if (traced == NULL) {
    printf("vu30_trace_open: cannot trace into %s\n", path);
    vu30_sim_destroy(sim);
    return 1;
  }
  Vu30Driver* driver = GetVU30(0, NULL, traced);
  int ok = driver != NULL;
  Vu30TraceStatus status = {0};
  if (ok) {
    const Vu30DriverTable* t = driver->table;
    double counter = 0.0, second = 0.0;
    t->OpenPost(driver, POST);
    t->SetPrice(driver, POST, 0, NOZZLE, 0, 0, 41.30);
    t->ReadCounter(driver, POST, 0, NOZZLE, &counter, &second, 0, 0);
    printf("post %d nozzle %d: price 41.30, counter %.2f\n", POST, NOZZLE, counter);
    ok = vu30_trace_status(traced, &status) == 1;
    t->Destroy(driver);
  }
  vu30_trace_close(traced); /* after Destroy: writes the rest, stops the writer */
  vu30_sim_destroy(sim);
  /* The status is read before the last batch: the recorded exchanges may
   * not all be written yet, but none may be lost. */
  ok = ok && status.recordsDropped == 0;
  printf("trace %s: %s\n", path, ok ? "written, nothing dropped" : "FAILED");
  return ok ? 0 : 1;
}
