// SPDX-License-Identifier: MIT
// The simulator's C interface (vu30_sim.h): checks every argument, calls the
// forecourt, and turns whatever it throws into a result and a message, so that
// nothing but the documented result leaves a function.
#define VU30_BUILDING_SIM
#include <chrono>
#include <exception>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>

#include "dispenser_simulator.h"
#include "vu30_sim.h"

// The handle a host holds: the forecourt behind an opaque C type.
struct Vu30Sim {
  explicit Vu30Sim(const vu30::sim::SimOptions& options) : sim(options) {}
  vu30::sim::Simulator sim;
};

namespace {

using vu30::sim::Fault;
using vu30::sim::Simulator;

// The message of the calling thread's last refused call.
thread_local std::string tLastError;

// Refusal of a call: a result with its message.
struct Refused {
  int32_t result;
  std::string message;
};

// Runs body(simulator), a call's work, and makes its result: VU30_SIM_OK, the
// result of a Refused, or the result that stands for what body threw.
template <typename Body>
int32_t Guarded(Body&& body) noexcept {
  try {
    tLastError.clear();
  } catch (...) {
  }
  int32_t result = VU30_SIM_FAILED;
  const char* message = "the simulator failed";
  std::string detail;
  try {
    return body();
  } catch (Refused& r) {
    result = r.result;
    detail = std::move(r.message);
  } catch (const std::invalid_argument& e) {
    result = VU30_SIM_BAD_ARGUMENT;
    try {
      detail = e.what();
    } catch (...) {
    }
  } catch (const std::logic_error& e) {
    result = VU30_SIM_WRONG_STATE;
    try {
      detail = e.what();
    } catch (...) {
    }
  } catch (const std::bad_alloc&) {
    message = "out of memory";
  } catch (const std::system_error&) {
    message = "the simulator could not start its thread";
  } catch (const std::runtime_error& e) {
    try {
      detail = e.what();
    } catch (...) {
    }
  } catch (...) {
  }
  try {
    tLastError = detail.empty() ? message : detail;
  } catch (...) {
  }
  return result;
}

void Require(bool condition, const char* message) {
  if (!condition) throw Refused{VU30_SIM_BAD_ARGUMENT, message};
}

Simulator& Of(Vu30Sim* sim) {
  Require(sim != nullptr, "no simulator (null handle)");
  return sim->sim;
}

void RequirePost(int32_t post) {
  Require(post >= 1 && post <= vu30::sim::kPostCount, "post is outside 1..30");
}

void RequireNozzle(int32_t nozzle) {
  Require(nozzle >= 1 && nozzle <= vu30::sim::kNozzleCount, "nozzle is outside 1..8");
}

bool IsOneFault(uint32_t fault) {
  return fault != 0 && (fault & (fault - 1)) == 0 && (fault & ~VU30_SIM_ALL_FAULTS) == 0;
}

}  // namespace

extern "C" {

int32_t VU30_CALL vu30_sim_default_options(Vu30SimOptions* options) {
  return Guarded([&] {
    Require(options != nullptr, "no options (null pointer)");
    const vu30::sim::SimOptions d;
    *options = Vu30SimOptions{};
    options->baud = static_cast<uint32_t>(d.baud);
    options->repeatTimeoutMs = static_cast<uint32_t>(d.repeatTimeout.count());
    options->reactionTimeMs = static_cast<uint32_t>(d.doseRequestDelay.count());
    options->faultRatePpm = 0;
    options->faultKinds = VU30_SIM_ALL_FAULTS;
    options->addressByteInMessages = d.addressByteInMessages ? 1 : 0;
    options->seed = d.seed;
    return VU30_SIM_OK;
  });
}

int32_t VU30_CALL vu30_sim_create(const Vu30SimOptions* options, Vu30Sim** sim) {
  return Guarded([&] {
    Require(options != nullptr && sim != nullptr, "no options or no place for the handle");
    Require(options->baud <= 1'000'000, "baud is above 1000000");
    Require(options->repeatTimeoutMs >= 1 && options->repeatTimeoutMs <= 3'600'000,
            "repeat time is outside 1..3600000 ms");
    Require(options->reactionTimeMs <= 3'600'000, "reaction time is above 3600000 ms");
    Require(options->faultRatePpm <= 1'000'000, "fault rate is above 1000000 ppm");
    Require((options->faultKinds & ~VU30_SIM_ALL_FAULTS) == 0, "unknown fault kind bits");
    vu30::sim::SimOptions o;
    o.baud = static_cast<int>(options->baud);
    o.repeatTimeout = std::chrono::milliseconds(options->repeatTimeoutMs);
    o.doseRequestDelay = std::chrono::milliseconds(options->reactionTimeMs);
    o.addressByteInMessages = options->addressByteInMessages != 0;
    o.faultRate = options->faultRatePpm / 1e6;
    o.seed = options->seed;
    o.faultKinds = options->faultKinds;
    *sim = std::make_unique<Vu30Sim>(o).release();
    return VU30_SIM_OK;
  });
}

void VU30_CALL vu30_sim_destroy(Vu30Sim* sim) {
  Guarded([&] {
    std::unique_ptr<Vu30Sim> owned(sim);
    return VU30_SIM_OK;
  });
}

Vu30Dispatcher* VU30_CALL vu30_sim_dispatcher(Vu30Sim* sim) {
  return sim != nullptr ? sim->sim.Dispatcher() : nullptr;
}

int32_t VU30_CALL vu30_sim_forget_callbacks(Vu30Sim* sim) {
  return Guarded([&] {
    Of(sim).ForgetCallbacks();
    return VU30_SIM_OK;
  });
}

const char* VU30_CALL vu30_sim_last_error(void) { return tLastError.c_str(); }

int32_t VU30_CALL vu30_sim_configure_post(Vu30Sim* sim, int32_t post,
                                          const Vu30SimPostConfig* config) {
  return Guarded([&] {
    Simulator& s = Of(sim);
    RequirePost(post);
    Require(config != nullptr, "no set-up (null pointer)");
    Require(config->portType <= 3, "port type is outside 0..3");
    Require(config->impulsesPerLitre >= 1 && config->impulsesPerLitre <= 255,
            "impulses factor is outside 1..255");
    Require(config->nozzles >= 1 && config->nozzles <= 8, "nozzle count is outside 1..8");
    Require(config->flowRate >= 1 && config->flowRate <= 100'000,
            "flow rate is outside 1..100000 hundredths of a litre a second");
    vu30::sim::PostConfig c;
    c.portType = static_cast<uint8_t>(config->portType);
    c.impulsesPerLitre = static_cast<uint8_t>(config->impulsesPerLitre);
    c.nozzles = static_cast<int>(config->nozzles);
    c.flowRate = config->flowRate / 100.0;
    s.ConfigurePost(post, c);
    return VU30_SIM_OK;
  });
}

int32_t VU30_CALL vu30_sim_set_counter(Vu30Sim* sim, int32_t post, int32_t nozzle,
                                       int64_t hundredths) {
  return Guarded([&] {
    Simulator& s = Of(sim);
    RequirePost(post);
    RequireNozzle(nozzle);
    s.SetCounter(post, nozzle, hundredths);
    return VU30_SIM_OK;
  });
}

int32_t VU30_CALL vu30_sim_counter(Vu30Sim* sim, int32_t post, int32_t nozzle,
                                   int64_t* hundredths) {
  return Guarded([&] {
    Simulator& s = Of(sim);
    RequirePost(post);
    RequireNozzle(nozzle);
    Require(hundredths != nullptr, "no place for the counter (null pointer)");
    *hundredths = s.Counter(post, nozzle);
    return VU30_SIM_OK;
  });
}

int32_t VU30_CALL vu30_sim_price(Vu30Sim* sim, int32_t post, int32_t nozzle, int32_t* hundredths) {
  return Guarded([&] {
    Simulator& s = Of(sim);
    RequirePost(post);
    RequireNozzle(nozzle);
    Require(hundredths != nullptr, "no place for the price (null pointer)");
    *hundredths = s.Price(post, nozzle);
    return VU30_SIM_OK;
  });
}

int32_t VU30_CALL vu30_sim_line_settings(Vu30Sim* sim, int32_t post, uint32_t* settings) {
  return Guarded([&] {
    Simulator& s = Of(sim);
    RequirePost(post);
    Require(settings != nullptr, "no place for the settings (null pointer)");
    *settings = s.LineSettings(post);
    return VU30_SIM_OK;
  });
}

int32_t VU30_CALL vu30_sim_channel(Vu30Sim* sim, int32_t channel, uint8_t* status, int32_t* error) {
  return Guarded([&] {
    Simulator& s = Of(sim);
    Require(channel >= 0 && channel <= 255, "channel is outside 0..255");
    Require(status != nullptr && error != nullptr, "no place for the status (null pointer)");
    *status = s.ChannelStatus(static_cast<uint8_t>(channel));
    *error = s.ChannelError(static_cast<uint8_t>(channel));
    return VU30_SIM_OK;
  });
}

int32_t VU30_CALL vu30_sim_lift_nozzle(Vu30Sim* sim, int32_t post, int32_t nozzle) {
  return Guarded([&] {
    Simulator& s = Of(sim);
    RequirePost(post);
    RequireNozzle(nozzle);
    Require(nozzle <= static_cast<int32_t>(s.ConfigOf(post).nozzles),
            "the post has no such nozzle");
    s.LiftNozzle(post, nozzle);
    return VU30_SIM_OK;
  });
}

int32_t VU30_CALL vu30_sim_hang_up(Vu30Sim* sim, int32_t post) {
  return Guarded([&] {
    Simulator& s = Of(sim);
    RequirePost(post);
    s.HangUp(post);
    return VU30_SIM_OK;
  });
}

int32_t VU30_CALL vu30_sim_stop_flow(Vu30Sim* sim, int32_t post) {
  return Guarded([&] {
    Simulator& s = Of(sim);
    RequirePost(post);
    s.StopFlow(post);
    return VU30_SIM_OK;
  });
}

int32_t VU30_CALL vu30_sim_fail_frames(Vu30Sim* sim, int32_t post, uint32_t fault, uint32_t count) {
  return Guarded([&] {
    Simulator& s = Of(sim);
    RequirePost(post);
    Require(IsOneFault(fault) && fault != VU30_SIM_FAULT_LOST_MESSAGE,
            "fault is not one frame fault kind");
    s.OrderFaults(post, static_cast<Fault>(fault), count);
    return VU30_SIM_OK;
  });
}

int32_t VU30_CALL vu30_sim_lose_messages(Vu30Sim* sim, int32_t post, uint32_t count) {
  return Guarded([&] {
    Simulator& s = Of(sim);
    RequirePost(post);
    s.OrderFaults(post, Fault::LostMessage, count);
    return VU30_SIM_OK;
  });
}

int32_t VU30_CALL vu30_sim_set_fault_rate(Vu30Sim* sim, uint32_t ppm) {
  return Guarded([&] {
    Simulator& s = Of(sim);
    Require(ppm <= 1'000'000, "fault rate is above 1000000 ppm");
    s.SetFaultRate(ppm / 1e6);
    return VU30_SIM_OK;
  });
}

int32_t VU30_CALL vu30_sim_fault_count(Vu30Sim* sim, uint32_t fault, uint64_t* count) {
  return Guarded([&] {
    Simulator& s = Of(sim);
    Require(IsOneFault(fault), "fault is not one fault kind");
    Require(count != nullptr, "no place for the count (null pointer)");
    *count = s.FaultCount(static_cast<Fault>(fault));
    return VU30_SIM_OK;
  });
}

int32_t VU30_CALL vu30_sim_phase(Vu30Sim* sim, int32_t post, int32_t* phase) {
  return Guarded([&] {
    Simulator& s = Of(sim);
    RequirePost(post);
    Require(phase != nullptr, "no place for the phase (null pointer)");
    *phase = static_cast<int32_t>(s.PhaseOf(post));
    return VU30_SIM_OK;
  });
}

int32_t VU30_CALL vu30_sim_wait_phase(Vu30Sim* sim, int32_t post, int32_t phase,
                                      uint32_t timeoutMs) {
  return Guarded([&] {
    Simulator& s = Of(sim);
    RequirePost(post);
    Require(phase >= VU30_SIM_IDLE && phase <= VU30_SIM_REPORTING, "phase is outside 0..5");
    std::string standing;
    if (!s.WaitForPhase(post, static_cast<vu30::sim::Phase>(phase),
                        std::chrono::milliseconds(timeoutMs), &standing)) {
      throw Refused{VU30_SIM_TIMED_OUT, std::move(standing)};
    }
    return VU30_SIM_OK;
  });
}

int32_t VU30_CALL vu30_sim_sale_count(Vu30Sim* sim, int32_t post, uint32_t* count) {
  return Guarded([&] {
    Simulator& s = Of(sim);
    RequirePost(post);
    Require(count != nullptr, "no place for the count (null pointer)");
    *count = static_cast<uint32_t>(s.SalesOf(post).size());
    return VU30_SIM_OK;
  });
}

int32_t VU30_CALL vu30_sim_wait_sales(Vu30Sim* sim, int32_t post, uint32_t count,
                                      uint32_t timeoutMs) {
  return Guarded([&] {
    Simulator& s = Of(sim);
    RequirePost(post);
    std::string standing;
    if (!s.WaitForSales(post, count, std::chrono::milliseconds(timeoutMs), &standing)) {
      throw Refused{VU30_SIM_TIMED_OUT, std::move(standing)};
    }
    return VU30_SIM_OK;
  });
}

int32_t VU30_CALL vu30_sim_sale(Vu30Sim* sim, int32_t post, uint32_t index, Vu30SimSale* sale) {
  return Guarded([&] {
    Simulator& s = Of(sim);
    RequirePost(post);
    Require(sale != nullptr, "no place for the sale (null pointer)");
    const std::vector<vu30::sim::Sale> sales = s.SalesOf(post);
    if (index >= sales.size()) throw Refused{VU30_SIM_NOT_FOUND, "the post has no such sale"};
    const vu30::sim::Sale& d = sales[index];
    *sale = Vu30SimSale{};
    sale->volume = d.volume;
    sale->money = d.money;
    sale->counterBefore = d.counterBefore;
    sale->counterAfter = d.counterAfter;
    sale->post = d.post;
    sale->nozzle = d.nozzle;
    sale->price = d.price;
    sale->refused = d.refused ? 1 : 0;
    return VU30_SIM_OK;
  });
}

int32_t VU30_CALL vu30_sim_check_post_type(Vu30Sim* sim, int32_t post) {
  return Guarded([&] {
    Simulator& s = Of(sim);
    RequirePost(post);
    std::string mismatch = s.LineTypeMismatch(post);
    if (!mismatch.empty()) throw Refused{VU30_SIM_WRONG_STATE, std::move(mismatch)};
    return VU30_SIM_OK;
  });
}

int32_t VU30_CALL vu30_sim_write_port_types(Vu30Sim* sim, const char* folder) {
  return Guarded([&] {
    Simulator& s = Of(sim);
    Require(folder != nullptr && *folder != '\0', "no folder (null pointer or empty)");
    s.WritePortTypes(folder);
    return VU30_SIM_OK;
  });
}

}  // extern "C"
