/* SPDX-License-Identifier: MIT */
/*
 * A host that records a line trace, as the documents show it: the trace goes
 * between the driver and the host's dispatcher for the driver's whole life,
 * and is closed after the driver. It checks that the file was written.
 *   vu30_traced_host TRACE_FILE
 */
#include <stdio.h>
#include <string.h>
#include <vu30_calls.h>
#include <vu30_trace.h>

static uint8_t VU30_CALL GetChannelStatus(Vu30Dispatcher* self, uint8_t channel) {
  (void)self;
  (void)channel;
  return VU30_LINK_GOOD;
}

static const Vu30DispatcherTable kTable = {.GetChannelStatus = GetChannelStatus};

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: vu30_traced_host TRACE_FILE\n");
    return 2;
  }
  Vu30Dispatcher myDispatcher = {&kTable};
  char text[VU30_CALLS_MESSAGE_CAPACITY];
  Vu30Driver* driver = NULL;
  const char* path = argv[1];
  /* [snippet:trace] */
  /* The trace wraps the host's dispatcher; without it the host runs untraced. */
  Vu30Dispatcher* traced = vu30_trace_open(&myDispatcher, path, VU30_TRACE_DEFAULTS);
  vu30_call_GetVU30(0, NULL, traced ? traced : &myDispatcher, &driver, text, sizeof text);
  /* ... the station's work ... */
  vu30_call_Destroy(driver, text, sizeof text);
  vu30_trace_close(traced); /* after the driver: writes the rest, stops the writer */
  /* [/snippet] */
  if (traced == NULL || driver == NULL) return 1;
  FILE* file = fopen(path, "r");
  char first[64] = "";
  if (file != NULL) {
    if (fgets(first, sizeof first, file) == NULL) first[0] = '\0';
    fclose(file);
  }
  const int written = strncmp(first, "{\"", 2) == 0;
  printf("trace %s: %s\n", path, written ? "written" : "MISSING");
  return written ? 0 : 1;
}
