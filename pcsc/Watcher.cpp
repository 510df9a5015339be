#include "Watcher.h"

#include <chrono>
#include <cstdlib>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "Reader.h"

namespace pcsc {
namespace {

// Each wait is bounded; cancelling ends it at once.
constexpr uint32_t kWaitMs = 2000;
// A wait that returns at once with nothing new does not block (some services, Wine 10's): poll
// instead, with this pause between polls. Measured under Wine 10 (scripts/bench): 10 ms keeps a
// card's arrival and removal in the window at a median near 20 ms, 95 % under 45 ms, for about
// 3 % of one core while idle; 50 ms costs under 1 % but doubles both. VARNELO_POLL_PAUSE_MS
// overrides it for such measurements.
constexpr unsigned kNotWaitingMs = 5;
constexpr unsigned kPollPauseMs = 10;
constexpr unsigned kFallbackIntervalMs = 50;

unsigned PollPauseMs() {
  static const unsigned pause = [] {
    const char* value = std::getenv("VARNELO_POLL_PAUSE_MS");
    const long ms = value ? std::strtol(value, nullptr, 10) : 0;
    return ms >= 1 && ms <= 1000 ? static_cast<unsigned>(ms) : kPollPauseMs;
  }();
  return pause;
}
constexpr unsigned kServiceRetryMs = 500;
// How soon a stop cancels again while the watcher has not left its wait.
constexpr unsigned kCancelAgainMs = 5;

constexpr uint32_t kCounterMask = 0xFFFF0000;
constexpr uint32_t kStateBits = kStateEmpty | kStatePresent | kStateUnavailable | kStateUnknown | kStateMute;

class Tracker {
public:
  Tracker(const WatchEvents& events) : events_(events) {}
  void Arrived(const CardId& card, const std::optional<FelicaNumber>& number) {
    if (announced_ && *announced_ == card)
      return;
    Left();
    announced_ = card;
    events_.found(card, number);
  }
  void Left() {
    if (!announced_)
      return;
    announced_.reset();
    events_.lost();
  }
  bool Announced() const { return announced_.has_value(); }
  void Watching(const std::string& reader) {
    if (readerKnown_ && *readerKnown_ == !reader.empty())
      return;
    readerKnown_ = !reader.empty();
    if (events_.reader)
      events_.reader(reader);
  }

private:
  const WatchEvents& events_;
  std::optional<CardId> announced_;
  std::optional<bool> readerKnown_;
};

bool CardPresent(uint32_t state) { return (state & kStatePresent) && !(state & kStateMute); }

struct Arrival {
  CardId card;
  std::optional<FelicaNumber> number;
};

// The card on the reader, or nothing when it is not there any more (or unreadable, or not
// FeliCa unless any card is wanted).
std::optional<Arrival> ReadCard(const Table& table, Context context, const std::string& reader,
                                std::span<const uint8_t> atr, const WatchOptions& options) {
  Session session(table, context, reader, atr);
  if (session.Connect() != Fault::None)
    return std::nullopt;
  Arrival arrival;
  if (options.systemCode == 0xFFFF) {
    if (session.Identify(arrival.card) != Fault::None || (arrival.card.kind != CardKind::Felica && !options.anyCard))
      return std::nullopt;
  } else {
    PollingReply reply;
    if (session.Poll(options.systemCode, reply) != Fault::None)
      return std::nullopt;
    arrival.card = CardId{CardKind::Felica, std::vector<uint8_t>(reply.idm.begin(), reply.idm.end())};
  }
  FelicaNumber number;
  Operation failed;
  if (options.felicaNumber && arrival.card.kind == CardKind::Felica &&
      ReadFelicaNumber(session, number, failed) == Fault::None)
    arrival.number = number;
  return arrival;
}

// One context's life: until stopped (true) or the service goes away (false).
bool WatchWithContext(const Table& table, Context context, const WatchOptions& options, Stopper& stopper,
                      Tracker& tracker) {
  std::string reader;
  std::vector<std::string> listed;
  uint32_t known = kStateUnaware;
  uint32_t pnpKnown = kStateUnaware;
  // The other listed readers, watched too: a card on one of them, or a reader that is available
  // again, makes the choice again while no card is announced.
  std::map<std::string, uint32_t> others;
  bool serviceGone = false;
  // Looks at the readers again; true when the list changed.
  auto relist = [&] {
    std::vector<ReaderInfo> readers;
    const Fault fault = ListReaders(table, context, readers);
    serviceGone = fault == Fault::NoService;
    const int chosen = fault == Fault::None ? ChooseReader(readers, options.pin) : -1;
    if (chosen < 0 || readers[static_cast<size_t>(chosen)].name != reader) {
      tracker.Left();
      reader = chosen < 0 ? "" : readers[static_cast<size_t>(chosen)].name;
      known = kStateUnaware;
    }
    tracker.Watching(reader);
    // The plug-and-play pseudo-reader's state carries the reader count in its upper half: wait
    // from the list just seen, so a reader that came back meanwhile still ends the wait.
    pnpKnown = static_cast<uint32_t>(readers.size()) << 16;
    std::vector<std::string> names;
    for (const ReaderInfo& info : readers)
      names.push_back(info.name);
    return std::exchange(listed, names) != names;
  };
  relist();
  while (!stopper.Stopped() && !serviceGone) {
    std::vector<ReaderState> states;
    if (!reader.empty()) {
      states.emplace_back();
      states.back().reader = reader;
      states.back().currentState = known;
    }
    for (const std::string& name : listed) {
      if (name == reader)
        continue;
      states.emplace_back();
      states.back().reader = name;
      states.back().currentState = others[name];
    }
    states.emplace_back();
    states.back().reader = kPnpNotification;
    states.back().currentState = pnpKnown;

    const auto start = std::chrono::steady_clock::now();
    if (!stopper.EnterWait())
      return true;
    const uint32_t rc = table.getStatusChange(context, kWaitMs, states.data(), states.size());
    stopper.LeaveWait();
    const auto spent = std::chrono::steady_clock::now() - start;
    if (rc == kCancelled || stopper.Stopped())
      return true;
    if (rc == kTimeout)
      continue;
    if (rc == kUnknownReader || rc == kReaderUnavailable) {
      if (!relist())
        stopper.Sleep(kFallbackIntervalMs);
      continue;
    }
    if (rc != kSuccess) {
      if (FaultFromPcsc(rc) == Fault::NoService)
        return false;
      stopper.Sleep(kFallbackIntervalMs);
      continue;
    }
    bool changed = false;
    bool chooseAgain = false;
    for (size_t i = reader.empty() ? 0 : 1; i + 1 < states.size(); ++i) {
      uint32_t& was = others[states[i].reader];
      const uint32_t now = states[i].eventState & ~kStateChanged;
      chooseAgain |= was != kStateUnaware && now != was;
      was = now;
    }
    const bool pnpChanged = (states.back().eventState & kStateChanged) &&
                            (states.back().eventState & ~kStateChanged) != pnpKnown;
    if (!reader.empty()) {
      const ReaderState& state = states.front();
      const uint32_t now = state.eventState & ~kStateChanged;
      if (now & (kStateUnknown | kStateUnavailable)) {
        tracker.Left();
        changed = relist();
      } else {
        if ((now & (kStateBits | kCounterMask)) != (known & (kStateBits | kCounterMask)) || known == kStateUnaware) {
          changed = true;
          // Another card event since the last look: whatever was there left, even if it is back.
          if (known != kStateUnaware && (now & kCounterMask) != (known & kCounterMask))
            tracker.Left();
          auto arrival = CardPresent(now) ? ReadCard(table, context, reader, state.atr, options) : std::nullopt;
          if (arrival)
            tracker.Arrived(arrival->card, arrival->number);
          else
            tracker.Left();
        }
        known = now;
      }
    }
    // The card left the chosen reader: another may hold one.
    chooseAgain |= changed && !reader.empty();
    if (chooseAgain && !tracker.Announced()) {
      const std::string before = reader;
      relist();
      changed |= reader != before;
    }
    if (pnpChanged && relist())
      changed = true;
    if (!changed && spent < std::chrono::milliseconds(kNotWaitingMs))
      stopper.Sleep(PollPauseMs());
  }
  return !serviceGone;
}

} // namespace

void Stopper::Stop() {
  std::unique_lock<std::mutex> lock(mutex_);
  stopped_ = true;
  wake_.notify_all();
  // A cancel reaches only a wait already under way: one that lands just before the watcher
  // begins its wait is lost, so cancel again until the watcher is out of it.
  while (attached_ && waiting_) {
    table_.cancel(context_);
    wake_.wait_for(lock, std::chrono::milliseconds(kCancelAgainMs), [this] { return !waiting_; });
  }
}

bool Stopper::Stopped() {
  std::lock_guard<std::mutex> guard(mutex_);
  return stopped_;
}

bool Stopper::Sleep(unsigned ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopped_; });
  return !stopped_;
}

bool Stopper::Attach(Context context) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (stopped_)
    return false;
  attached_ = true;
  context_ = context;
  return true;
}

void Stopper::Detach() {
  std::lock_guard<std::mutex> guard(mutex_);
  attached_ = false;
}

bool Stopper::EnterWait() {
  std::lock_guard<std::mutex> guard(mutex_);
  waiting_ = !stopped_;
  return waiting_;
}

void Stopper::LeaveWait() {
  std::lock_guard<std::mutex> guard(mutex_);
  waiting_ = false;
  wake_.notify_all();
}

void Watch(const Table& table, const WatchOptions& options, Stopper& stopper, const WatchEvents& events) {
  Tracker tracker(events);
  while (!stopper.Stopped()) {
    Context context = 0;
    if (table.establishContext(&context) != kSuccess) {
      // Windows stops its smart-card service while no reader is plugged in.
      tracker.Left();
      tracker.Watching("");
      stopper.Sleep(kServiceRetryMs);
      continue;
    }
    const bool attached = stopper.Attach(context);
    const bool stopped = !attached || WatchWithContext(table, context, options, stopper, tracker);
    stopper.Detach();
    table.releaseContext(context);
    if (stopped)
      return;
    // The service went away: whatever was announced is gone with it.
    tracker.Left();
    stopper.Sleep(kServiceRetryMs);
  }
}

} // namespace pcsc
