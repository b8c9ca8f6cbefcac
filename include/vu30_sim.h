/* SPDX-License-Identifier: MIT */
/**
 * @file vu30_sim.h
 * @brief The dispenser simulator (libvu30-sim.so, vu30-sim.dll).
 */
/**
 * @defgroup vu30_sim The dispenser simulator
 * @brief A forecourt without a forecourt, for testing a station host.
 *
 * vu30 dispenser simulator — a forecourt without a forecourt: up to 30
 * simulated dispensing posts with 8 nozzles each behind a port dispatcher,
 * for testing a station host without dispensers (libvu30-sim.so,
 * vu30-sim.dll).
 *
 * @code
 *   Vu30SimOptions options;
 *   vu30_sim_default_options(&options);
 *   Vu30Sim* sim = NULL;
 *   vu30_sim_create(&options, &sim);
 *   Vu30Driver* driver = GetVU30(0, mainWindow, vu30_sim_dispatcher(sim));
 *   ... open post 1, then play the customer:
 *   vu30_sim_lift_nozzle(sim, 1, 2);   the driver sees the price request
 *   ... the host starts the post and releases a dose; the fuel flows
 *   vu30_sim_wait_sales(sim, 1, 1, 10000);
 *   Vu30SimSale sale;
 *   vu30_sim_sale(sim, 1, 0, &sale);   what the dispenser measured
 *   vu30_sim_forget_callbacks(sim);    before the driver goes
 *   driver->table->Destroy(driver);
 *   vu30_sim_destroy(sim);
 * @endcode
 *
 * The simulated dispensers answer the driver's requests at once (after the
 * time the bytes take on the line at the chosen speed) and send their own
 * messages (price request, dose request, end report) from a thread of the
 * simulator, repeated until they are answered. Faults are injected at random
 * at a rate, or ordered for the next frames or messages of one post.
 *
 * Every function may be called from any thread. Each returns VU30_SIM_OK or
 * another Vu30SimResult; a refused call changes nothing, and
 * vu30_sim_last_error() tells why. No exception of any kind leaves a function
 * of this header. An injected exchange failure reaches the driver only, as a
 * failing host dispatcher's would: Transact raises it (a C++ exception; on
 * Windows a structured exception with code 0xE0485354, "HST").
 *
 * Every function is declared with #VU30_CALL and returns a Vu30SimResult
 * value (VU30_SIM_OK ...) unless its reference says otherwise.
 * @{
 */
#ifndef VU30_SIM_H
#define VU30_SIM_H

#include "vu30.h"

/**
 * @def VU30_SIM_EXPORT
 * @brief Exports the simulator's functions while it is built; imports them
 * (Windows) or means nothing (elsewhere) for a host.
 */
#if defined(VU30_BUILDING_SIM)
#if defined(_WIN32)
#define VU30_SIM_EXPORT __declspec(dllexport)
#else
#define VU30_SIM_EXPORT __attribute__((visibility("default")))
#endif
#elif defined(_WIN32)
#define VU30_SIM_EXPORT __declspec(dllimport)
#else
#define VU30_SIM_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** @brief A simulated forecourt, made by vu30_sim_create(). */
typedef struct Vu30Sim Vu30Sim;

/** @brief Results of every function (Vu30SimResult). @since 2.41 */
enum {
  VU30_SIM_OK = 0,           /**< done */
  VU30_SIM_BAD_ARGUMENT = 1, /**< an argument out of range or a null pointer */
  VU30_SIM_WRONG_STATE = 2,  /**< the post is not where the call needs it (busy, nothing flows) */
  VU30_SIM_TIMED_OUT = 3,    /**< a wait ended before what it waited for */
  VU30_SIM_NOT_FOUND = 4,    /**< no such sale */
  VU30_SIM_FAILED = 5        /**< the simulator could not do it (out of memory, no thread) */
};

/**
 * @name Fault kinds
 * Bits of Vu30SimOptions::faultKinds; one of them for vu30_sim_fail_frames()
 * and vu30_sim_fault_count().
 * @{
 */
#define VU30_SIM_FAULT_WRONG_LENGTH 0x01u   /**< a reply comes one byte short (command acted on) */
#define VU30_SIM_FAULT_MALFORMED_BYTE 0x02u /**< a reply byte damaged on the line (acted on) */
#define VU30_SIM_FAULT_FAILED_RESULT 0x04u  /**< Transact returns a line fault (frame lost) */
#define VU30_SIM_FAULT_RAISED 0x08u         /**< Transact raises (frame lost) */
#define VU30_SIM_FAULT_LOST_MESSAGE 0x10u   /**< a dispenser's message never reaches the driver */
#define VU30_SIM_ALL_FAULTS 0x1Fu           /**< every kind */
/** @} */

/**
 * @name Transact's results
 * Results the simulator's Transact gives besides 0 (also the channel's error
 * code).
 * @{
 */
#define VU30_SIM_RESULT_NO_REPLY 0xE0   /**< the dispenser did not answer */
#define VU30_SIM_RESULT_LINE_FAULT 0xE1 /**< the frame was lost on the line */
#define VU30_SIM_RESULT_BAD_CALL 0xE2   /**< the call itself was malformed */
/** @} */

/** @brief Where a post's sale stands (vu30_sim_phase(), vu30_sim_wait_phase()). @since 2.41 */
enum {
  VU30_SIM_IDLE = 0,            /**< all nozzles hung up, nothing outstanding */
  VU30_SIM_PRICE_REQUESTED = 1, /**< nozzle lifted, price request outstanding */
  VU30_SIM_AWAITING_START = 2,  /**< price known, waiting for the start request */
  VU30_SIM_DOSE_REQUESTED = 3,  /**< started, dose request outstanding */
  VU30_SIM_FLOWING = 4,         /**< dose released, fuel flowing */
  VU30_SIM_REPORTING = 5        /**< flow ended, nozzle hung up, end report outstanding */
};

/**
 * @brief The forecourt's options; vu30_sim_default_options() fills in the
 * defaults, vu30_sim_create() refuses values outside the ranges named.
 * @since 2.41
 */
typedef struct Vu30SimOptions {
  /** Line speed in baud, 0 .. 1000000 (default 1200); 0: every frame instant. */
  uint32_t baud;
  /**
   * A message unanswered this long, in ms, is sent again: 1 .. 3600000
   * (default 300). It must be longer than the line's round trip (about
   * 150 ms at 1200 baud), or every message is repeated and an ordered fault
   * can land on the answer to a repeat.
   */
  uint32_t repeatTimeoutMs;
  /** Start request to dose request, in ms: 0 .. 3600000 (default 200). */
  uint32_t reactionTimeMs;
  /** Chance of a fault per frame or message, in millionths: 0 .. 1000000 (default 0). */
  uint32_t faultRatePpm;
  /** VU30_SIM_FAULT_* bits the random faults draw from (default all); other bits are refused. */
  uint32_t faultKinds;
  /** Nonzero: messages lead with the address byte (default 1). */
  uint32_t addressByteInMessages;
  /** The seed of the random faults (default 1). */
  uint64_t seed;
} Vu30SimOptions;

/** @brief A post's set-up (vu30_sim_configure_post()). @since 2.41 */
typedef struct Vu30SimPostConfig {
  uint32_t portType;         /**< 0 "ЕС-2000", 1 "FAS", 2 "ER3/2", 3 "ER112" (default 0) */
  uint32_t impulsesPerLitre; /**< running volume unit of types 1 and 3 (1..255; default 100) */
  uint32_t nozzles;          /**< 1..8 (default 4) */
  uint32_t flowRate;         /**< hundredths of a litre a second, 1..100000 (default 2000) */
} Vu30SimPostConfig;

/** @brief A completed sale as the dispenser measured it (amounts in hundredths). @since 2.41 */
typedef struct Vu30SimSale {
  int64_t volume;        /**< litres × 100 */
  int64_t money;         /**< volume × price, rounded to the cent */
  int64_t counterBefore; /**< the nozzle's totalizer before the sale, litres × 100 */
  int64_t counterAfter;  /**< the nozzle's totalizer after the sale, litres × 100 */
  int32_t post;          /**< 1..30 */
  int32_t nozzle;        /**< 1..8 */
  int32_t price;         /**< money units a litre × 100 */
  int32_t refused;       /**< nonzero: the dose was refused, nothing dispensed */
} Vu30SimSale;

/**
 * @brief Fills options with the defaults named at Vu30SimOptions.
 * @param options filled in; null is refused (#VU30_SIM_BAD_ARGUMENT)
 * @return #VU30_SIM_OK or #VU30_SIM_BAD_ARGUMENT
 * @since 2.41
 */
VU30_SIM_EXPORT int32_t VU30_CALL vu30_sim_default_options(Vu30SimOptions* options);

/**
 * @brief A new forecourt; every post type 0 with the default set-up,
 * counters and prices 0, every phase #VU30_SIM_IDLE. Starts the forecourt's
 * thread.
 * @param options the forecourt's options; null, or a field outside its
 * range (Vu30SimOptions), is refused (#VU30_SIM_BAD_ARGUMENT)
 * @param sim receives the new forecourt, untouched on a refusal; null is
 * refused
 * @return #VU30_SIM_OK, #VU30_SIM_BAD_ARGUMENT or #VU30_SIM_FAILED (no
 * memory, no thread)
 * @since 2.41
 */
VU30_SIM_EXPORT int32_t VU30_CALL vu30_sim_create(const Vu30SimOptions* options, Vu30Sim** sim);

/**
 * @brief Ends the forecourt's thread and frees it. Call
 * vu30_sim_forget_callbacks() and destroy the driver object first.
 * @param sim the forecourt; null is ignored
 * @since 2.41
 */
VU30_SIM_EXPORT void VU30_CALL vu30_sim_destroy(Vu30Sim* sim);

/**
 * @brief The port dispatcher to hand to GetVU30().
 * @param sim the forecourt
 * @return the dispatcher, valid until vu30_sim_destroy(); null for a null
 * sim
 * @since 2.41
 */
VU30_SIM_EXPORT Vu30Dispatcher* VU30_CALL vu30_sim_dispatcher(Vu30Sim* sim);

/**
 * @brief Drops every callback the driver registered and waits for those
 * under way to return: no call reaches the driver any more.
 * @param sim the forecourt; null is refused (#VU30_SIM_BAD_ARGUMENT)
 * @return #VU30_SIM_OK or #VU30_SIM_BAD_ARGUMENT
 * @since 2.41
 */
VU30_SIM_EXPORT int32_t VU30_CALL vu30_sim_forget_callbacks(Vu30Sim* sim);

/**
 * @brief The message of the calling thread's last refused call; a wait that
 * timed out leaves one too.
 * @return the message ("" if none), valid until that thread's next call
 * @since 2.41
 */
VU30_SIM_EXPORT const char* VU30_CALL vu30_sim_last_error(void);

/**
 * @brief Sets up a post: its dispenser type, impulses factor, nozzles and
 * flow rate.
 * @param sim the forecourt; null is refused (#VU30_SIM_BAD_ARGUMENT)
 * @param post 1..30
 * @param config the set-up; null or a field outside its range
 * (Vu30SimPostConfig) is refused (#VU30_SIM_BAD_ARGUMENT)
 * @return #VU30_SIM_OK or #VU30_SIM_BAD_ARGUMENT
 * @since 2.41
 */
VU30_SIM_EXPORT int32_t VU30_CALL vu30_sim_configure_post(Vu30Sim* sim, int32_t post,
                                                          const Vu30SimPostConfig* config);

/**
 * @brief Sets a nozzle's totalizer counter.
 * @param sim the forecourt; null is refused (#VU30_SIM_BAD_ARGUMENT)
 * @param post 1..30
 * @param nozzle 1..8
 * @param hundredths litres × 100, 0 .. 9999999999 (ten digits)
 * @return #VU30_SIM_OK or #VU30_SIM_BAD_ARGUMENT
 * @since 2.41
 */
VU30_SIM_EXPORT int32_t VU30_CALL vu30_sim_set_counter(Vu30Sim* sim, int32_t post, int32_t nozzle,
                                                       int64_t hundredths);

/**
 * @brief A nozzle's totalizer counter.
 * @param sim the forecourt; null is refused (#VU30_SIM_BAD_ARGUMENT)
 * @param post 1..30
 * @param nozzle 1..8
 * @param hundredths receives litres × 100; null is refused
 * @return #VU30_SIM_OK or #VU30_SIM_BAD_ARGUMENT
 * @since 2.41
 */
VU30_SIM_EXPORT int32_t VU30_CALL vu30_sim_counter(Vu30Sim* sim, int32_t post, int32_t nozzle,
                                                   int64_t* hundredths);

/**
 * @brief The nozzle's price as the dispenser holds it (as the driver last
 * sent it; 0 before).
 * @param sim the forecourt; null is refused (#VU30_SIM_BAD_ARGUMENT)
 * @param post 1..30
 * @param nozzle 1..8
 * @param hundredths receives money units a litre × 100; null is refused
 * @return #VU30_SIM_OK or #VU30_SIM_BAD_ARGUMENT
 * @since 2.41
 */
VU30_SIM_EXPORT int32_t VU30_CALL vu30_sim_price(Vu30Sim* sim, int32_t post, int32_t nozzle,
                                                 int32_t* hundredths);

/**
 * @brief The line settings the driver last configured the post's channel
 * with (ConfigureChannel).
 * @param sim the forecourt; null is refused (#VU30_SIM_BAD_ARGUMENT)
 * @param post 1..30
 * @param settings receives the settings word, 0 if never configured; null
 * is refused
 * @return #VU30_SIM_OK or #VU30_SIM_BAD_ARGUMENT
 * @since 2.41
 */
VU30_SIM_EXPORT int32_t VU30_CALL vu30_sim_line_settings(Vu30Sim* sim, int32_t post,
                                                         uint32_t* settings);

/**
 * @brief The channel's status and error code as the driver and the
 * simulator last set them.
 * @param sim the forecourt; null is refused (#VU30_SIM_BAD_ARGUMENT)
 * @param channel 0..255
 * @param status receives #VU30_LINK_GOOD, #VU30_LINK_FAILED or what was
 * set; null is refused
 * @param error receives the error code; null is refused
 * @return #VU30_SIM_OK or #VU30_SIM_BAD_ARGUMENT
 * @since 2.41
 */
VU30_SIM_EXPORT int32_t VU30_CALL vu30_sim_channel(Vu30Sim* sim, int32_t channel, uint8_t* status,
                                                   int32_t* error);

/**
 * @brief The customer lifts a nozzle: the dispenser asks the driver for its
 * price.
 * @param sim the forecourt; null is refused (#VU30_SIM_BAD_ARGUMENT)
 * @param post 1..30
 * @param nozzle 1..8 and one of the post's nozzles (#VU30_SIM_BAD_ARGUMENT)
 * @return #VU30_SIM_OK, #VU30_SIM_BAD_ARGUMENT, or #VU30_SIM_WRONG_STATE
 * when the post is not idle
 * @since 2.41
 */
VU30_SIM_EXPORT int32_t VU30_CALL vu30_sim_lift_nozzle(Vu30Sim* sim, int32_t post, int32_t nozzle);

/**
 * @brief The customer hangs the nozzle up.
 *
 * While fuel flows it ends the flow with what has run (the sale completes);
 * before the dose is asked for it makes the post idle again without a sale;
 * a hung-up post stays as it is; while the dose request is outstanding it
 * is refused.
 * @param sim the forecourt; null is refused (#VU30_SIM_BAD_ARGUMENT)
 * @param post 1..30
 * @return #VU30_SIM_OK, #VU30_SIM_BAD_ARGUMENT, or #VU30_SIM_WRONG_STATE
 * while the dose request is outstanding
 * @since 2.41
 */
VU30_SIM_EXPORT int32_t VU30_CALL vu30_sim_hang_up(Vu30Sim* sim, int32_t post);

/**
 * @brief Stops the flow at the post: the sale completes with what has
 * run.
 * @param sim the forecourt; null is refused (#VU30_SIM_BAD_ARGUMENT)
 * @param post 1..30
 * @return #VU30_SIM_OK, #VU30_SIM_BAD_ARGUMENT, or #VU30_SIM_WRONG_STATE
 * when no fuel flows
 * @since 2.41
 */
VU30_SIM_EXPORT int32_t VU30_CALL vu30_sim_stop_flow(Vu30Sim* sim, int32_t post);

/**
 * @brief The next count frames on the post's channel meet fault.
 *
 * A fault that needs reply bytes the frame lacks is a lost frame instead.
 * The random rate is set with vu30_sim_set_fault_rate().
 * @param sim the forecourt; null is refused (#VU30_SIM_BAD_ARGUMENT)
 * @param post 1..30
 * @param fault one VU30_SIM_FAULT_* frame kind (not
 * #VU30_SIM_FAULT_LOST_MESSAGE); anything else is refused
 * @param count the frames; 0 cancels
 * @return #VU30_SIM_OK or #VU30_SIM_BAD_ARGUMENT
 * @since 2.41
 */
VU30_SIM_EXPORT int32_t VU30_CALL vu30_sim_fail_frames(Vu30Sim* sim, int32_t post, uint32_t fault,
                                                       uint32_t count);

/**
 * @brief The next count messages of the post's dispenser are lost.
 * @param sim the forecourt; null is refused (#VU30_SIM_BAD_ARGUMENT)
 * @param post 1..30
 * @param count the messages; 0 cancels
 * @return #VU30_SIM_OK or #VU30_SIM_BAD_ARGUMENT
 * @since 2.41
 */
VU30_SIM_EXPORT int32_t VU30_CALL vu30_sim_lose_messages(Vu30Sim* sim, int32_t post,
                                                         uint32_t count);

/**
 * @brief The chance of a random fault per frame or message.
 * @param sim the forecourt; null is refused (#VU30_SIM_BAD_ARGUMENT)
 * @param ppm in millionths, 0 .. 1000000
 * @return #VU30_SIM_OK or #VU30_SIM_BAD_ARGUMENT
 * @since 2.41
 */
VU30_SIM_EXPORT int32_t VU30_CALL vu30_sim_set_fault_rate(Vu30Sim* sim, uint32_t ppm);

/**
 * @brief Faults of one kind injected so far, ordered and random.
 * @param sim the forecourt; null is refused (#VU30_SIM_BAD_ARGUMENT)
 * @param fault one VU30_SIM_FAULT_* kind; anything else is refused
 * @param count receives the number; null is refused
 * @return #VU30_SIM_OK or #VU30_SIM_BAD_ARGUMENT
 * @since 2.41
 */
VU30_SIM_EXPORT int32_t VU30_CALL vu30_sim_fault_count(Vu30Sim* sim, uint32_t fault,
                                                       uint64_t* count);

/**
 * @brief A post's phase.
 * @param sim the forecourt; null is refused (#VU30_SIM_BAD_ARGUMENT)
 * @param post 1..30
 * @param phase receives #VU30_SIM_IDLE .. #VU30_SIM_REPORTING; null is
 * refused
 * @return #VU30_SIM_OK or #VU30_SIM_BAD_ARGUMENT
 * @since 2.41
 */
VU30_SIM_EXPORT int32_t VU30_CALL vu30_sim_phase(Vu30Sim* sim, int32_t post, int32_t* phase);

/**
 * @brief Waits until a post is in a phase. A wait that times out says in
 * vu30_sim_last_error() what it waited for, how long, and where the post
 * stands.
 * @param sim the forecourt; null is refused (#VU30_SIM_BAD_ARGUMENT)
 * @param post 1..30
 * @param phase #VU30_SIM_IDLE .. #VU30_SIM_REPORTING
 * @param timeoutMs the longest wait, in ms
 * @return #VU30_SIM_OK, #VU30_SIM_BAD_ARGUMENT or #VU30_SIM_TIMED_OUT
 * @since 2.41
 */
VU30_SIM_EXPORT int32_t VU30_CALL vu30_sim_wait_phase(Vu30Sim* sim, int32_t post, int32_t phase,
                                                      uint32_t timeoutMs);

/**
 * @brief How many sales of a post have completed.
 * @param sim the forecourt; null is refused (#VU30_SIM_BAD_ARGUMENT)
 * @param post 1..30
 * @param count receives the number; null is refused
 * @return #VU30_SIM_OK or #VU30_SIM_BAD_ARGUMENT
 * @since 2.41
 */
VU30_SIM_EXPORT int32_t VU30_CALL vu30_sim_sale_count(Vu30Sim* sim, int32_t post, uint32_t* count);

/**
 * @brief Waits until a post has count completed sales (count + 1 waits for
 * the next). A wait that times out says in vu30_sim_last_error() what it
 * waited for and where the post stands.
 * @param sim the forecourt; null is refused (#VU30_SIM_BAD_ARGUMENT)
 * @param post 1..30
 * @param count the number of sales awaited
 * @param timeoutMs the longest wait, in ms
 * @return #VU30_SIM_OK, #VU30_SIM_BAD_ARGUMENT or #VU30_SIM_TIMED_OUT
 * @since 2.41
 */
VU30_SIM_EXPORT int32_t VU30_CALL vu30_sim_wait_sales(Vu30Sim* sim, int32_t post, uint32_t count,
                                                      uint32_t timeoutMs);

/**
 * @brief A completed sale of a post, oldest first.
 * @param sim the forecourt; null is refused (#VU30_SIM_BAD_ARGUMENT)
 * @param post 1..30
 * @param index 0 .. the sale count - 1
 * @param sale receives the sale; null is refused
 * @return #VU30_SIM_OK, #VU30_SIM_BAD_ARGUMENT, or #VU30_SIM_NOT_FOUND when
 * there is no sale at index
 * @since 2.41
 */
VU30_SIM_EXPORT int32_t VU30_CALL vu30_sim_sale(Vu30Sim* sim, int32_t post, uint32_t index,
                                                Vu30SimSale* sale);

/**
 * @brief Checks that the driver set up a post's line for the simulated
 * dispenser's type.
 *
 * The driver takes each post's dispenser type from cnf.INI (COM_n for post
 * n), not from the simulator, and configures the post's channel for that
 * type when it opens the post (vu30_sim_line_settings). A post simulated as
 * an impulse-counting dispenser (type 1 or 3) that the driver takes for
 * type 0 reports running volumes the driver does not convert. Call this
 * after the driver opened the post.
 *
 * Types 1 and 3 share their line settings: a mix-up between them, or an
 * impulses factor that differs from cnf.INI's, is not seen here.
 * vu30_sim_write_port_types writes a cnf.INI that matches the simulated
 * posts. A wait that times out names a mismatch too.
 *
 * @param sim  the forecourt.
 * @param post the post, 1..30.
 * @return VU30_SIM_OK when the line settings the driver last configured
 *         name the simulated type; VU30_SIM_WRONG_STATE when they name
 *         another type, or the driver has not configured the line yet
 *         (vu30_sim_last_error() says which, with the cnf.INI key to set);
 *         VU30_SIM_BAD_ARGUMENT for a null sim or a post outside 1..30.
 *         Changes nothing. Any thread.
 * @since 2.41
 */
VU30_SIM_EXPORT int32_t VU30_CALL vu30_sim_check_post_type(Vu30Sim* sim, int32_t post);

/**
 * @brief Writes a cnf.INI that gives the driver the simulated posts' types.
 *
 * Sets COM_n_TYPE and COM_n_IMPL of the section COMTypeTRK to post n's
 * simulated type and impulses factor, for posts 1..29 (the driver reads
 * no type for post 30, which is always type 0), in folder's cnf.INI. A
 * missing file is created; every other section and key of an existing one
 * is kept, since a station's other drivers keep their settings there.
 * The driver reads the file when a driver object is made (GetVU30): write
 * it first. On Linux the driver reads cnf.INI from the folder named by the
 * environment variable WINDIR: point WINDIR at folder before GetVU30. On
 * Windows it reads the Windows directory (GetWindowsDirectoryA), which is
 * then the folder to give.
 *
 * @param sim    the forecourt.
 * @param folder an existing folder (file system's encoding; the ANSI code
 *               page on Windows), not null or empty.
 * @return VU30_SIM_OK when written; VU30_SIM_BAD_ARGUMENT for a null sim
 *         or folder; VU30_SIM_WRONG_STATE when post 30 is simulated with a
 *         type other than 0, which cnf.INI cannot give it;
 *         VU30_SIM_FAILED when the file cannot be written (a missing
 *         folder, no permission). A refused or failed call leaves the file
 *         as it was. Any thread.
 * @since 2.41
 */
VU30_SIM_EXPORT int32_t VU30_CALL vu30_sim_write_port_types(Vu30Sim* sim, const char* folder);

/** @} */

#ifdef __cplusplus
} /* extern "C" */
#endif

/* The layouts every host language relies on (the same on 32 and 64 bits). */
VU30_STATIC_ASSERT(sizeof(Vu30SimOptions) == 32, "options: six 32-bit fields and the seed");
VU30_STATIC_ASSERT(offsetof(Vu30SimOptions, seed) == 24, "the seed last, 8-aligned");
VU30_STATIC_ASSERT(sizeof(Vu30SimPostConfig) == 16, "post set-up: four 32-bit fields");
VU30_STATIC_ASSERT(sizeof(Vu30SimSale) == 48, "sale: four 64-bit, four 32-bit fields");
VU30_STATIC_ASSERT(offsetof(Vu30SimSale, post) == 32, "the 32-bit fields after the 64-bit ones");
VU30_STATIC_ASSERT(offsetof(Vu30SimSale, refused) == 44, "refused last");

#endif /* VU30_SIM_H */
