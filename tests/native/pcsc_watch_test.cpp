// The card watcher over the stand-in service: found and lost once per arrival and departure,
// through replaced cards, unplugged readers, a stopped service and a wait that does not wait;
// stopped by a cancel, not by a timeout.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "FakePcsc.h"
#include "Watcher.h"

using namespace pcsc;
using namespace std::chrono_literals;

namespace {

constexpr const char* kReader = "Reader A";
using Events = std::vector<std::string>;

class WatchTest : public ::testing::Test {
protected:
  void SetUp() override {
    fake::Reset();
    fake::AddReader(kReader);
  }
  void TearDown() override { Stop(); }

  void Start() {
    WatchEvents events;
    events.found = [this](const CardId& card, const std::optional<FelicaNumber>&) { Record("found " + std::to_string(card.id.at(7))); };
    events.lost = [this] { Record("lost"); };
    running_ = std::async(std::launch::async, [this, events] { Watch(fake::Table(), {}, stopper_, events); });
  }

  void Stop() {
    if (!running_.valid())
      return;
    stopper_.Stop();
    ASSERT_EQ(running_.wait_for(4s), std::future_status::ready) << "the watcher did not stop";
    running_.get();
  }

  void Record(const std::string& event) {
    std::lock_guard<std::mutex> guard(mutex_);
    events_.push_back(event);
    arrived_.notify_all();
  }

  // The events so far, once there are at least count of them (or after a bounded wait).
  std::vector<std::string> EventsAfter(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    arrived_.wait_for(lock, 3s, [&] { return events_.size() >= count; });
    return events_;
  }

  Stopper stopper_{fake::Table()};
  std::future<void> running_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<std::string> events_;
};

} // namespace

TEST_F(WatchTest, ACardThatStaysIsFoundOnce) {
  fake::PlaceCard(kReader, fake::StandardCard(fake::Dialect::Transparent, 1));
  Start();
  EXPECT_EQ(EventsAfter(1), Events{"found 1"});
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(EventsAfter(1), Events{"found 1"});
  fake::RemoveCard(kReader);
  EXPECT_EQ(EventsAfter(2), (Events{"found 1", "lost"}));
}

TEST_F(WatchTest, ArrivalsDeparturesAndAReplacedCard) {
  Start();
  fake::PlaceCard(kReader, fake::StandardCard(fake::Dialect::Transparent, 1));
  EXPECT_EQ(EventsAfter(1), Events{"found 1"});
  // Another card in its place without an empty reader in between.
  fake::PlaceCard(kReader, fake::StandardCard(fake::Dialect::Transparent, 2));
  EXPECT_EQ(EventsAfter(3), (Events{"found 1", "lost", "found 2"}));
  fake::RemoveCard(kReader);
  fake::PlaceCard(kReader, fake::StandardCard(fake::Dialect::Transparent, 2));
  EXPECT_EQ(EventsAfter(5), (Events{"found 1", "lost", "found 2", "lost", "found 2"}));
}

TEST_F(WatchTest, AnUnpluggedReaderLosesItsCardAndComesBack) {
  fake::PlaceCard(kReader, fake::StandardCard(fake::Dialect::Transparent, 1));
  Start();
  EXPECT_EQ(EventsAfter(1), Events{"found 1"});
  fake::RemoveReader(kReader);
  EXPECT_EQ(EventsAfter(2), (Events{"found 1", "lost"}));
  fake::AddReader(kReader);
  fake::PlaceCard(kReader, fake::StandardCard(fake::Dialect::Transparent, 3));
  EXPECT_EQ(EventsAfter(3), (Events{"found 1", "lost", "found 3"}));
}

TEST_F(WatchTest, TheServiceStopsAndStartsAgain) {
  fake::PlaceCard(kReader, fake::StandardCard(fake::Dialect::Transparent, 1));
  Start();
  EXPECT_EQ(EventsAfter(1), Events{"found 1"});
  {
    std::lock_guard<std::mutex> guard(fake::GetService().mutex);
    fake::GetService().running = false;
    fake::GetService().changed.notify_all();
  }
  EXPECT_EQ(EventsAfter(2), (Events{"found 1", "lost"}));
  {
    std::lock_guard<std::mutex> guard(fake::GetService().mutex);
    fake::GetService().running = true;
  }
  EXPECT_EQ(EventsAfter(3), (Events{"found 1", "lost", "found 1"}));
}

TEST_F(WatchTest, AWaitThatDoesNotWaitIsNotASpin) {
  {
    std::lock_guard<std::mutex> guard(fake::GetService().mutex);
    fake::GetService().waitBlocks = false;
  }
  Start();
  fake::PlaceCard(kReader, fake::StandardCard(fake::Dialect::Transparent, 1));
  EXPECT_EQ(EventsAfter(1), Events{"found 1"});
  std::this_thread::sleep_for(500ms);
  Stop();
  std::lock_guard<std::mutex> guard(fake::GetService().mutex);
  // A 10 ms pause gives about fifty waits in half a second; a spin gives thousands.
  EXPECT_LT(fake::GetService().calls[fake::kStatusChange], 100u);
  EXPECT_EQ(EventsAfter(1), Events{"found 1"});
}

TEST_F(WatchTest, StopCancelsTheWaitAndReleasesTheContext) {
  Start();
  std::this_thread::sleep_for(100ms);
  const auto start = std::chrono::steady_clock::now();
  Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << "stopped by the wait's own timeout, not the cancel";
  std::lock_guard<std::mutex> guard(fake::GetService().mutex);
  EXPECT_GE(fake::GetService().calls[fake::kCancel], 1u);
  EXPECT_EQ(fake::GetService().openContexts, 0);
}

// A stop that lands after the watcher's last look at it, as its wait begins, where the cancel
// finds no wait under way yet: still seen at once, not when the 2 s wait ends.
TEST_F(WatchTest, AStopAsTheWaitBeginsIsSeenAtOnce) {
  std::atomic<int> waits{0};
  std::thread stopping;
  std::chrono::steady_clock::time_point stoppedAt;
  auto cancels = [] {
    std::lock_guard<std::mutex> guard(fake::GetService().mutex);
    return fake::GetService().calls[fake::kCancel];
  };
  // The second wait: the first returns at once with the reader's state (a look at the readers'
  // states, with no timeout, is no wait).
  fake::GetService().beforeWait = [&](uint32_t timeoutMs) {
    if (timeoutMs == 0 || ++waits != 2)
      return;
    stoppedAt = std::chrono::steady_clock::now();
    stopping = std::thread([this] { stopper_.Stop(); });
    for (int i = 0; i < 200 && cancels() == 0; ++i)
      std::this_thread::sleep_for(5ms);
  };
  Start();
  const bool stopped = running_.wait_for(4s) == std::future_status::ready;
  const auto took = std::chrono::steady_clock::now() - stoppedAt;
  if (stopping.joinable())
    stopping.join();
  ASSERT_TRUE(stopped) << "the watcher did not stop";
  EXPECT_EQ(waits, 2);
  EXPECT_LT(took, 500ms) << "seen when the wait timed out, not by a cancel";
}
