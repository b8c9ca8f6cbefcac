/* SPDX-License-Identifier: MIT */
// C++ hosts of this repository (the station demo, the Qt reference host, the
// end-to-end tests): the
// dispenser simulator through its public C interface (vu30_sim.h), owned by
// an object, with a refused call thrown as std::runtime_error carrying the
// simulator's message.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "vu30_sim.h"

namespace vu30::host {

class Forecourt {
 public:
  explicit Forecourt(const Vu30SimOptions& options) { Check(vu30_sim_create(&options, &sim_)); }
  ~Forecourt() { vu30_sim_destroy(sim_); }
  Forecourt(const Forecourt&) = delete;
  Forecourt& operator=(const Forecourt&) = delete;

  static Vu30SimOptions DefaultOptions() {
    Vu30SimOptions options{};
    Check(vu30_sim_default_options(&options));
    return options;
  }

  Vu30Sim* get() const { return sim_; }
  Vu30Dispatcher* Dispatcher() const { return vu30_sim_dispatcher(sim_); }

  void ConfigurePost(int post, const Vu30SimPostConfig& config) {
    Check(vu30_sim_configure_post(sim_, post, &config));
  }
  void SetCounter(int post, int nozzle, int64_t hundredths) {
    Check(vu30_sim_set_counter(sim_, post, nozzle, hundredths));
  }
  int64_t Counter(int post, int nozzle) const {
    int64_t value = 0;
    Check(vu30_sim_counter(sim_, post, nozzle, &value));
    return value;
  }
  void LiftNozzle(int post, int nozzle) { Check(vu30_sim_lift_nozzle(sim_, post, nozzle)); }
  void HangUp(int post) { Check(vu30_sim_hang_up(sim_, post)); }
  int32_t Phase(int post) const {
    int32_t phase = 0;
    Check(vu30_sim_phase(sim_, post, &phase));
    return phase;
  }
  uint32_t SaleCount(int post) const {
    uint32_t count = 0;
    Check(vu30_sim_sale_count(sim_, post, &count));
    return count;
  }
  Vu30SimSale Sale(int post, uint32_t index) const {
    Vu30SimSale sale{};
    Check(vu30_sim_sale(sim_, post, index, &sale));
    return sale;
  }
  // Every completed sale of the post, oldest first.
  std::vector<Vu30SimSale> Sales(int post) const {
    std::vector<Vu30SimSale> sales(SaleCount(post));
    for (uint32_t i = 0; i < sales.size(); ++i) sales[i] = Sale(post, i);
    return sales;
  }
  int32_t Price(int post, int nozzle) const {
    int32_t hundredths = 0;
    Check(vu30_sim_price(sim_, post, nozzle, &hundredths));
    return hundredths;
  }
  uint32_t LineSettings(int post) const {
    uint32_t settings = 0;
    Check(vu30_sim_line_settings(sim_, post, &settings));
    return settings;
  }
  uint64_t FaultCount(uint32_t fault) const {
    uint64_t count = 0;
    Check(vu30_sim_fault_count(sim_, fault, &count));
    return count;
  }
  // No more calls into the driver; before the driver object is destroyed.
  void ForgetCallbacks() { Check(vu30_sim_forget_callbacks(sim_)); }

  static void Check(int32_t result) {
    if (result != VU30_SIM_OK)
      throw std::runtime_error(std::string("simulator: ") + vu30_sim_last_error());
  }

 private:
  Vu30Sim* sim_ = nullptr;
};

}  // namespace vu30::host
