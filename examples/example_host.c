/* SPDX-License-Identifier: MIT */
/*
 * vu30-example-host: the smallest station host, in plain C.
 *
 * It brings a port dispatcher of its own that plays one dispenser on post 1,
 * hands it to GetVU30, opens the post, sets a nozzle's price and reads the
 * nozzle's totalizer counter, then destroys the driver. It prints what it did
 * and what the dispenser saw, and exits 0 when the two agree.
 *
 * Errors: the driver reports a refused argument and a failed exchange as C++
 * exceptions, which C cannot catch. The host therefore makes every call
 * through the error-returning calls of vu30_calls.h (libvu30-calls): each
 * returns 0 or the error's kind, with the library's message in the host's
 * buffer, and the host goes on. One call here is refused on purpose.
 *
 * The dispatcher's functions always return to the driver: a failure of the
 * line is Transact's non-zero result, never a longjmp out of it.
 *
 * The driver reads its port types from cnf.INI in $WINDIR (else /etc/vu30);
 * without the file every port has the default type, which this dispenser
 * answers like.
 */
#include <stdio.h>
#include <string.h>
#include <vu30_calls.h>

#define POST 1
#define NOZZLE 2
#define CHANNELS 31 /* channels 1..30 */

/* ---- the line coding: one digit per byte, as four complementary bit pairs */

static uint8_t EncodeDigit(uint8_t digit) {
  uint8_t line = 0;
  for (int bit = 0; bit < 4; ++bit) line = (uint8_t)((line << 2) | ((digit >> bit) & 1 ? 1 : 2));
  return line;
}

static int IsLineByte(uint8_t line) {
  for (int pair = 0; pair < 4; ++pair) {
    const int lower = (line >> (2 * pair)) & 1;
    const int upper = (line >> (2 * pair + 1)) & 1;
    if (lower == upper) return 0;
  }
  return 1;
}

static uint8_t DecodeLineByte(uint8_t line) {
  /* Bit pair k (from the top) carries digit bit k in its lower bit. */
  uint8_t digit = 0;
  for (int bit = 0; bit < 4; ++bit) digit |= (uint8_t)(((line >> (6 - 2 * bit)) & 1) << bit);
  return digit;
}

/* ---- the dispatcher: one dispenser behind channel POST */

typedef struct Dispenser {
  Vu30Dispatcher base; /* first: the driver sees this as its dispatcher */
  Vu30BoundMethod checker[CHANNELS];
  uint8_t status[CHANNELS];
  int32_t error[CHANNELS];
  int priceHundredths[9]; /* per nozzle, as the driver last sent it; -1: none */
  long long counter[9];   /* per nozzle, litres x 100 */
  int frames;             /* requests answered */
} Dispenser;

static Dispenser* Self(Vu30Dispatcher* self) { return (Dispenser*)self; }

static int ValidChannel(uint8_t channel) { return channel >= 1 && channel < CHANNELS; }

static int32_t VU30_CALL GetChannelError(Vu30Dispatcher* self, uint8_t channel) {
  return ValidChannel(channel) ? Self(self)->error[channel] : -1;
}

static void VU30_CALL SetChannelError(Vu30Dispatcher* self, uint8_t channel, int32_t code) {
  if (ValidChannel(channel)) Self(self)->error[channel] = code;
}

static void VU30_CALL SetChannelStatus(Vu30Dispatcher* self, uint8_t channel, uint8_t status) {
  if (ValidChannel(channel)) Self(self)->status[channel] = status;
}

static uint8_t VU30_CALL GetChannelStatus(Vu30Dispatcher* self, uint8_t channel) {
  return ValidChannel(channel) ? Self(self)->status[channel] : VU30_LINK_FAILED;
}

static int32_t VU30_CALL ConfigureChannel(Vu30Dispatcher* self, uint8_t post, int32_t mode,
                                          uint32_t lineSettings) {
  (void)self;
  printf("  dispatcher: channel %u configured (mode %d, line settings 0x%08X)\n", post, mode,
         lineSettings);
  return 0;
}

static void VU30_CALL SetReplyChecker(Vu30Dispatcher* self, uint8_t channel,
                                      Vu30BoundMethod method) {
  if (ValidChannel(channel)) Self(self)->checker[channel] = method;
}

/* This dispenser sends no messages of its own: the hook and the post's
 * initialisation handler are accepted and not called. */
static void VU30_CALL IgnoreCallback(Vu30Dispatcher* self, uint8_t post, Vu30BoundMethod method) {
  (void)self;
  (void)post;
  (void)method;
}

/* The dispenser's answer to a request, as digits; returns their number. */
static int Answer(Dispenser* d, const uint8_t* request, int length, uint8_t* digits) {
  int n = 0;
  if (length == 6 && request[0] == 2 && request[1] < 8) { /* price: 2, nozzle index, 4 digits */
    d->priceHundredths[request[1] + 1] =
        request[2] * 1000 + request[3] * 100 + request[4] * 10 + request[5];
  } else if (length == 2 && request[0] == 3 && request[1] < 8) { /* counter of a nozzle */
    long long value = d->counter[request[1] + 1];
    digits[n++] = 3;
    for (int i = 10; i >= 1; --i) {
      digits[i] = (uint8_t)(value % 10);
      value /= 10;
    }
    n += 10;
    digits[n++] = request[1];
  } else if (length == 2 && request[0] == 11) { /* state: idle, no nozzle lifted */
    digits[n++] = 11;
    digits[n++] = 1;
    digits[n++] = 0;
  }
  return n;
}

static int32_t VU30_CALL Transact(Vu30Dispatcher* self, uint8_t channel, uint8_t lineAddress,
                                  const uint8_t* request, uint8_t requestLength, uint8_t* reply,
                                  uint8_t replyLength, uint8_t replyType) {
  Dispenser* d = Self(self);
  uint8_t digits[255];
  uint8_t answer[255];
  (void)lineAddress; /* one dispenser: every line address reaches it */
  (void)replyType;   /* it knows each request's reply by the command digit */
  if (!ValidChannel(channel) || channel != POST) return 1; /* no dispenser on that line */
  for (int i = 0; i < requestLength; ++i) {
    if (!IsLineByte(request[i])) return 2;
    digits[i] = DecodeLineByte(request[i]);
  }
  ++d->frames;
  const int n = Answer(d, digits, requestLength, answer);
  if (replyLength == 0) { /* a frame that awaits no reply */
    d->status[channel] = VU30_LINK_GOOD;
    return 0;
  }
  if (n + 1 > replyLength || reply == NULL) return 3; /* the answer does not fit */
  /* The reply: the coded digits closed by a zero byte, checked and decoded in
   * place by the checker the driver registered for the channel. */
  for (int i = 0; i < n; ++i) reply[i] = EncodeDigit(answer[i]);
  reply[n] = 0;
  uint8_t count = (uint8_t)(n + 1);
  uint8_t expected = replyLength;
  Vu30CheckReplyFn check = NULL;
  memcpy(&check, &d->checker[channel].code, sizeof check); /* code pointer from the bound method */
  if (check == NULL) return 4;
  check(d->checker[channel].data, channel, reply, 0, &count, &expected);
  return 0;
}

/* [snippet:dispatcher-table] */
static const Vu30DispatcherTable kDispatcherTable = {
    .GetChannelError = GetChannelError,
    .SetChannelError = SetChannelError,
    .SetChannelStatus = SetChannelStatus,
    .GetChannelStatus = GetChannelStatus,
    .ConfigureChannel = ConfigureChannel,
    .Transact = Transact,
    .SetReplyChecker = SetReplyChecker,
    .SetMessageHook = IgnoreCallback,
    .SetPostInit = IgnoreCallback,
};
/* [/snippet] */

/* ---- the host */

/* Reports a failed call; returns whether the call succeeded. */
static int Succeeded(const char* what, uint32_t kind, const char* text) {
  if (kind != 0) printf("%s failed (kind %u): %s\n", what, (unsigned)kind, text);
  return kind == 0;
}

int main(void) {
  static Dispenser dispenser; /* zeroed; lives longer than the driver */
  dispenser.base.table = &kDispatcherTable;
  for (int nozzle = 1; nozzle <= 8; ++nozzle) {
    dispenser.priceHundredths[nozzle] = -1;
    dispenser.counter[nozzle] = 100000LL * nozzle + 4321; /* e.g. 2043.21 L on nozzle 2 */
  }
  printf("vu30 example host (C)\n");

  /* [snippet:create] */
  char text[VU30_CALLS_MESSAGE_CAPACITY]; /* the library's message, cp1251 */
  Vu30Driver* driver = NULL;
  if (!Succeeded("GetVU30", vu30_call_GetVU30(0, NULL, &dispenser.base, &driver, text, sizeof text),
                 text)) {
    return 1;
  }
  /* [/snippet] */

  uint8_t info[VU30_DRIVER_INFO_SIZE];
  vu30_call_GetDriverInfo(driver, info, text, sizeof text);
  /* The identity is in code page 1251; its version part before '#' is ASCII. */
  int versionLength = 0;
  while (versionLength < info[0] && info[1 + versionLength] != '#') ++versionLength;
  printf("driver %.*s\n", versionLength, (const char*)&info[1]);

  /* [snippet:calls] */
  int ok = Succeeded("OpenPost", vu30_call_OpenPost(driver, POST, text, sizeof text), text);
  printf("post %d opened\n", POST);

  const double price = 52.30;
  ok &=
      Succeeded("SetPrice",
                vu30_call_SetPrice(driver, POST, 0, NOZZLE, 0, 0, price, text, sizeof text), text);
  /* [/snippet] */
  uint8_t link = 0;
  vu30_call_GetLinkStatus(driver, POST, &link, text, sizeof text);
  ok &= link == VU30_LINK_GOOD && dispenser.priceHundredths[NOZZLE] == 5230;
  printf("price of nozzle %d set to %.2f; the dispenser holds %d.%02d\n", NOZZLE, price,
         dispenser.priceHundredths[NOZZLE] / 100, dispenser.priceHundredths[NOZZLE] % 100);

  double counter = 0.0;
  double second = 0.0;
  ok &= Succeeded(
      "ReadCounter",
      vu30_call_ReadCounter(driver, POST, 0, NOZZLE, &counter, &second, 0, 0, text, sizeof text),
      text);
  const long long expected = dispenser.counter[NOZZLE];
  ok &= (long long)(counter * 100.0 + 0.5) == expected;
  printf("counter of nozzle %d: %.2f L; the dispenser holds %lld.%02lld L\n", NOZZLE, counter,
         expected / 100, expected % 100);

  /* [snippet:refused] */
  /* A price on a nozzle the dispenser does not have: refused before anything
   * goes on the line, and the host goes on. */
  const uint32_t kind = vu30_call_SetPrice(driver, POST, 0, 9, 0, 0, price, text, sizeof text);
  ok &= kind == VU30_ERROR_REFUSED;
  printf("nozzle 9: %s (kind %u): %s\n", kind == VU30_ERROR_REFUSED ? "refused" : "NOT refused",
         (unsigned)kind, kind != 0 ? text : "");
  /* [/snippet] */

  uint32_t state = 0;
  vu30_call_GetPumpState(driver, POST, 0, &state, text, sizeof text);
  printf("post %d state code 0x%02X, %d frames exchanged\n", POST, (unsigned)state,
         dispenser.frames);
  /* [snippet:destroy] */
  vu30_call_Destroy(driver, text, sizeof text);
  /* [/snippet] */
  printf("driver destroyed: %s\n", ok ? "all agree" : "MISMATCH");
  return ok ? 0 : 1;
}
