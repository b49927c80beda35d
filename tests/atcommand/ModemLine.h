#pragma once

#include <gtest/gtest.h>
#include <termios.h>

#include <cstring>
#include <memory>

#include "serial/DataHandler.h"
#include "serial/TTYPort.h"
#include "support/Descriptors.h"
#include "support/ProcessResources.h"
#include "tools/modemsim/ScriptedModem.h"

namespace xr::test {

// The shared serial port opened on a scripted modem. Tearing down closes the port and stops
// the modem, then checks that no descriptor or thread is left over and that the line has
// its attributes back.
class ModemLine : public testing::Test {
 protected:
  void SetUp() override {
    baseDescriptors_ = openDescriptors();
    baseThreads_ = threadCount();
  }

  // Starts the modem only; the port stays closed.
  void startModem(ModemScript script) {
    std::string error;
    modem_ = ScriptedModem::start(std::move(script), &error);
    ASSERT_TRUE(modem_) << error;
    ASSERT_EQ(tcgetattr(modem_->lineDescriptor(), &before_), 0);
  }

  void openLine(ModemScript script) {
    startModem(std::move(script));
    port_ = TTYPort::sharedTTYPort();
    port_->setPath(modem_->devicePath());
    port_->open();
    ASSERT_TRUE(port_->portOpened());
  }

  void TearDown() override {
    if (port_) port_->close();
    if (modem_ && !lineDropped_) {
      struct termios after{};
      EXPECT_EQ(tcgetattr(modem_->lineDescriptor(), &after), 0);
      EXPECT_EQ(std::memcmp(&after, &before_, sizeof after), 0) << "line attributes not restored";
    }
    modem_.reset();
    EXPECT_EQ(openDescriptors(), baseDescriptors_);
    EXPECT_EQ(threadCount(), baseThreads_);
  }

  std::unique_ptr<ScriptedModem> modem_;
  std::shared_ptr<TTYPort> port_;
  bool lineDropped_ = false;  // the modem hung up: the line has no attributes any more
  struct termios before_{};
  std::set<int> baseDescriptors_;
  size_t baseThreads_ = 0;
};

}  // namespace xr::test
