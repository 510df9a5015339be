// Continuous watching of one reader for cards, on the caller's thread with a PC/SC context of
// its own: it blocks in the service's status wait (the reader and the plug-and-play pseudo-
// reader) and is stopped by cancelling that wait, from any thread.
#pragma once
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "Cards.h"
#include "Felica.h"
#include "Pcsc.h"

namespace pcsc {

class Stopper {
public:
  explicit Stopper(const Table& table) : table_(table) {}
  // Cancels the wait in progress and every later one; returns once the watcher is out of its
  // wait (a status wait ends at once when cancelled).
  void Stop();
  bool Stopped();
  // Waits up to ms; false once stopped.
  bool Sleep(unsigned ms);
  // The watcher's context, cancelled by Stop; false when already stopped.
  bool Attach(Context context);
  void Detach();
  // Around each status wait on the attached context; Enter is false once stopped.
  bool EnterWait();
  void LeaveWait();

private:
  const Table& table_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopped_ = false;
  bool attached_ = false;
  bool waiting_ = false;
  Context context_ = 0;
};

struct WatchOptions {
  std::string pin;            // part of the reader's name, or "" for the usual choice
  uint16_t systemCode = 0xFFFF;
  bool anyCard = false;       // report cards that are not FeliCa too; else they are no card
  bool felicaNumber = false;  // read each FeliCa card's number for found
};

struct WatchEvents {
  // number: the card's FeliCa number, where asked for and the card has one.
  std::function<void(const CardId&, const std::optional<FelicaNumber>& number)> found;
  std::function<void()> lost;
  // Optional: the reader watched, or "" when there is none (no reader, or no service to list
  // one); once the first look has told, then whenever there comes to be one or none.
  std::function<void(const std::string&)> reader;
};

// Runs until stopped. Reports found once per card that arrives (a card that stays is not
// found again; one replaced by another is lost, then found) and lost when it leaves, with its
// reader, or with the service. Survives readers and the service coming and going.
void Watch(const Table& table, const WatchOptions& options, Stopper& stopper, const WatchEvents& events);

} // namespace pcsc
