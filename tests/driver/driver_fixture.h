// A driver object on a scripted dispenser, with its own Windows directory.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "config/port_type_table.h"
#include "driver/trk_request.h"
#include "driver/zud30.h"
#include "scripted_dispenser.h"

namespace vu30::test {

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vu30-driver-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    windir_ = pattern;
    setenv("WINDIR", windir_.c_str(), 1);
    config::PortTypes().Reset();
    auto dispenser = std::make_unique<ScriptedDispenser>();
    dispenser_ = dispenser.get();
    driver_ = std::make_unique<driver::ZUD30>(std::move(dispenser));
  }
  void TearDown() override {
    driver_.reset();
    std::filesystem::remove_all(windir_);
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

  std::string windir_;
  ScriptedDispenser* dispenser_ = nullptr;
  std::unique_ptr<driver::ZUD30> driver_;
};

}  // namespace vu30::test
