// The private stack every test of this run shares: one pcscd with a reader pair on free ports,
// behind our driver unless a test asks for vpcd, restarted by a test's set-up if an earlier test
// stopped it or wanted the other driver.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "Harness.h"

struct Stack {
  int port = 0;
  std::unique_ptr<Pcscd> pcscd;
};
Stack& TheStack();

class PcscTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Stack& s = TheStack();
    if (!s.pcscd->running() || s.pcscd->driver() != Driver()) {
      ASSERT_EQ(s.pcscd->Start(s.port, Driver()), "");
    }
    ASSERT_TRUE(WaitCard(ReaderName(0), false, Millis(5000))) << "a card from an earlier test is still there";
    ASSERT_TRUE(WaitCard(ReaderName(1), false, Millis(5000)));
  }

  virtual std::string Driver() const { return kOurDriver; }

  // A virtual reader on the given slot (0: "... 00 00", 1: "... 00 01"), its card seen by pcscd.
  std::unique_ptr<VirtualReader> Place(const std::string& dialect, const std::string& card,
                                       const std::string& fault = "none", int slot = 0) {
    auto reader = std::make_unique<VirtualReader>(TheStack().port + slot, dialect, card, fault, Driver());
    EXPECT_TRUE(card == "none" || WaitCard(ReaderName(slot), true, Millis(5000))) << "pcscd never saw the card";
    // Without a card nothing shows that the reader has linked to our driver; until it has, the
    // driver answers that there is no reader.
    if (card == "none" && Driver() == kOurDriver) {
      bool linked = false;
      for (int i = 0; i < 250 && !linked; ++i) {
        linked = reader->Do("state").ends_with(" connected");
        if (!linked)
          std::this_thread::sleep_for(Millis(20));
      }
      EXPECT_TRUE(linked) << "the virtual reader never linked to the driver";
    }
    return reader;
  }
};

// The same case behind each driver: ours, and vpcd (written by others) as a check on ours.
class EachDriver : public PcscTest, public ::testing::WithParamInterface<std::string> {
 protected:
  std::string Driver() const override { return GetParam(); }
};
