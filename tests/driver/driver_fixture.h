// A driver object on a scripted dispenser, with its own Windows directory.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "config/port_type_table.h"
#include "driver/trk_request.h"
#include "driver/zud30.h"
#include "scripted_dispenser.h"
#include "temp_windir.h"

namespace vu30::test {

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    windir_.emplace();
    config::PortTypes().Reset();
    auto dispenser = std::make_unique<ScriptedDispenser>();
    dispenser_ = dispenser.get();
    driver_ = std::make_unique<driver::ZUD30>(std::move(dispenser));
  }
  void TearDown() override {
    driver_.reset();
    windir_.reset();
  }

  // Opens post with the given type and factor and forgets the frames of the opening.
  void Open(int post, uint8_t type = config::kTypeEC2000, uint8_t impl = 100) {
    config::PortTypes().SetTrkType(post, type);
    config::PortTypes().SetImpl(post, impl);
    driver_->OpenPost(post);
    dispenser_->ClearFrames();
  }

  // Answers every request with the given reply digits.
  void ReplyWith(std::vector<uint8_t> digits) {
    dispenser_->SetAnswer([digits](const Frame&) { return Answer{digits}; });
  }

  std::optional<TempWindir> windir_;
  ScriptedDispenser* dispenser_ = nullptr;
  std::unique_ptr<driver::ZUD30> driver_;
};

}  // namespace vu30::test
