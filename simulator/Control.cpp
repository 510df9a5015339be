// The sim_ control surface for tests and demonstrations.
#include <algorithm>
#include <cstring>

#include "Simulator.h"
#include "sim_control.h"

namespace sim {

void AttachReader(bool attached) {
  State& s = GetState();
  std::shared_ptr<Poller> poller;
  {
    std::lock_guard<std::mutex> guard(s.mutex);
    s.readerAttached = attached;
    if (!attached && s.readerOpen) {
      s.readerOpen = false;
      poller = DetachPoller(s);
    }
  }
  JoinPoller(poller);
}

bool PlaceBuiltInCard(int kind) {
  std::optional<Card> card = BuiltInCard(kind);
  if (!card)
    return false;
  State& s = GetState();
  std::lock_guard<std::mutex> guard(s.mutex);
  s.card = std::move(card);
  s.cardKind = kind;
  ++s.cardGeneration;
  NotifyReaderChanged(s);
  return true;
}

void RemoveCard() {
  State& s = GetState();
  std::lock_guard<std::mutex> guard(s.mutex);
  s.card.reset();
  s.cardKind = -1;
  NotifyReaderChanged(s);
}

} // namespace sim

using namespace sim;

namespace {

template <class F>
auto Guarded(F f, decltype(f()) onError) noexcept {
  try {
    return f();
  } catch (...) {
    return onError;
  }
}

template <class F>
void Guarded(F f) noexcept {
  try {
    f();
  } catch (...) {
  }
}

template <class F>
auto Locked(F f) {
  State& s = GetState();
  std::lock_guard<std::mutex> guard(s.mutex);
  return f(s);
}

} // namespace

SIM_API void SIM_CALL sim_reset(void) noexcept {
  Guarded([] {
    State& s = GetState();
    std::shared_ptr<Poller> poller;
    {
      std::lock_guard<std::mutex> guard(s.mutex);
      poller = DetachPoller(s);
    }
    JoinPoller(poller);
    Locked([](State& s) {
      s.initialized = false;
      s.readerAttached = true;
      s.readerOpen = false;
      s.card.reset();
      s.cardKind = -1;
      ++s.cardGeneration;
      s.haveCallback = false;
      s.window = nullptr;
      s.findMessage = s.lossMessage = 0;
      s.lastFelicaType = 1000;
      s.lastRwType = 100;
      s.failures = {};
      s.failErrorQuery = false;
      s.latency = {};
      s.misbehaviour = SIM_BEHAVE_NORMALLY;
      s.log.clear();
      s.eventsDelivered = 0;
    });
  });
}

SIM_API void SIM_CALL sim_attach_reader(int32_t attached) noexcept {
  Guarded([=] { AttachReader(attached != 0); });
}

SIM_API int32_t SIM_CALL sim_card_kinds(void) noexcept { return kBuiltInCardKinds; }

SIM_API int32_t SIM_CALL sim_place_card(int32_t kind) noexcept {
  return Guarded([=] { return PlaceBuiltInCard(kind) ? 1 : 0; }, 0);
}

SIM_API void SIM_CALL sim_place_custom_card(const uint8_t* idm8, const uint8_t* pmm8, int32_t hasCommonArea,
                                            const uint8_t* block0) noexcept {
  if (!idm8 || !pmm8)
    return;
  Guarded([=] {
    Card card = CustomCard(idm8, pmm8, hasCommonArea != 0, block0);
    Locked([&](State& s) {
      s.card = std::move(card);
      s.cardKind = -2;
      ++s.cardGeneration;
      NotifyReaderChanged(s);
    });
  });
}

SIM_API void SIM_CALL sim_remove_card(void) noexcept {
  Guarded([] { RemoveCard(); });
}

SIM_API int32_t SIM_CALL sim_card_idm(int32_t kind, uint8_t* idm8) noexcept {
  return Guarded(
      [=] {
        std::optional<Card> card = BuiltInCard(kind);
        if (!card || !idm8)
          return 0;
        std::memcpy(idm8, card->idm.data(), 8);
        return 1;
      },
      0);
}

SIM_API int32_t SIM_CALL sim_fail(const char* entryPoint, int32_t felicaType, int32_t rwType, int32_t times) noexcept {
  return Guarded(
      [=] {
        const int entry = FindEntryPoint(entryPoint);
        if (entry < 0)
          return 0;
        Locked([&](State& s) { s.failures[entry] = {felicaType, rwType, times}; });
        return 1;
      },
      0);
}

SIM_API void SIM_CALL sim_clear_failures(void) noexcept {
  Guarded([] {
    Locked([](State& s) { s.failures = {}; });
  });
}

SIM_API void SIM_CALL sim_fail_error_query(int32_t on) noexcept {
  Guarded([=] { Locked([=](State& s) { s.failErrorQuery = on != 0; }); });
}

SIM_API int32_t SIM_CALL sim_set_latency(const char* entryPoint, int32_t milliseconds) noexcept {
  return Guarded(
      [=] {
        const int32_t delay = std::max<int32_t>(milliseconds, 0);
        if (entryPoint && std::strcmp(entryPoint, "*") == 0) {
          Locked([=](State& s) { s.latency.fill(delay); });
          return 1;
        }
        const int entry = FindEntryPoint(entryPoint);
        if (entry < 0)
          return 0;
        Locked([=](State& s) { s.latency[entry] = delay; });
        return 1;
      },
      0);
}

SIM_API void SIM_CALL sim_misbehave(int32_t mode) noexcept {
  Guarded([=] { Locked([=](State& s) { s.misbehaviour = mode; }); });
}

SIM_API int32_t SIM_CALL sim_is_initialized(void) noexcept {
  return Guarded([] { return Locked([](State& s) { return s.initialized ? 1 : 0; }); }, 0);
}

SIM_API int32_t SIM_CALL sim_is_reader_open(void) noexcept {
  return Guarded([] { return Locked([](State& s) { return s.readerOpen ? 1 : 0; }); }, 0);
}

SIM_API int32_t SIM_CALL sim_is_polling(void) noexcept {
  return Guarded([] { return Locked([](State& s) { return s.poller ? 1 : 0; }); }, 0);
}

SIM_API int32_t SIM_CALL sim_events_delivered(void) noexcept {
  return Guarded([] { return Locked([](State& s) { return s.eventsDelivered; }); }, 0);
}

SIM_API int32_t SIM_CALL sim_log_count(void) noexcept {
  return Guarded([] { return Locked([](State& s) { return static_cast<int32_t>(s.log.size()); }); }, 0);
}

SIM_API int32_t SIM_CALL sim_log_line(int32_t index, char* buffer, int32_t size) noexcept {
  return Guarded(
      [=] {
        return Locked([=](State& s) {
          if (index < 0 || static_cast<size_t>(index) >= s.log.size())
            return -1;
          const std::string& line = s.log[index];
          if (buffer && size > 0) {
            const size_t n = std::min(line.size(), static_cast<size_t>(size - 1));
            std::memcpy(buffer, line.data(), n);
            buffer[n] = '\0';
          }
          return static_cast<int32_t>(line.size());
        });
      },
      -1);
}

SIM_API void SIM_CALL sim_log_clear(void) noexcept {
  Guarded([] { Locked([](State& s) { s.log.clear(); }); });
}

SIM_API int32_t SIM_CALL sim_call_count(const char* entryPoint) noexcept {
  return Guarded(
      [=] {
        if (FindEntryPoint(entryPoint) < 0)
          return 0;
        const std::string prefix = std::string(entryPoint) + " ";
        return Locked([&](State& s) {
          return static_cast<int32_t>(std::count_if(s.log.begin(), s.log.end(), [&](const std::string& line) {
            return line.compare(0, prefix.size(), prefix) == 0;
          }));
        });
      },
      0);
}
