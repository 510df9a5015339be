// The ten entry points of the reader library, with the error types a real library reports.
// Every one is noexcept: nothing may unwind into the caller.
#include <cstring>
#include <string>

#include "CallLog.h"
#include "felica/LibraryExports.h"
#include "Simulator.h"

using namespace FelicaAPI::Library;

namespace sim {

int FindEntryPoint(const char* name) {
  if (!name)
    return -1;
  for (int i = 0; i < kEntryPointCount; ++i)
    if (std::strcmp(name, kEntryPointNames[i]) == 0)
      return i;
  return -1;
}

State& GetState() {
  // Never destroyed: at process exit other threads may have died holding the lock.
  static State* state = new State;
  return *state;
}

namespace {

struct Outcome {
  bool ok;
  int32_t felicaType;
  int32_t rwType;
  bool keepRecord; // a failure that leaves the last error as it was
};

constexpr Outcome kSuccess{true, 0, 0, false};
constexpr Outcome Failed(int32_t felicaType, int32_t rwType) { return {false, felicaType, rwType, false}; }

// FeliCa type / reader-writer type, documented in README.md.
constexpr Outcome kBadArgument = Failed(1002, 102);
constexpr Outcome kNotInitialized = Failed(1005, 105);
constexpr Outcome kAlreadyInitialized = Failed(1006, 106);
constexpr Outcome kNoReader = Failed(1028, 0); // nothing answered, so the reader/writer side has no error
constexpr Outcome kReaderNotOpen = Failed(1029, 120);
constexpr Outcome kReaderAlreadyOpen = Failed(1030, 121);
constexpr Outcome kFindNotRegistered = Failed(1032, 100);
constexpr Outcome kLossNotRegistered = Failed(1033, 100);
constexpr Outcome kNoCallback = Failed(1034, 163);
constexpr Outcome kNotPolling = Failed(1035, 100);
constexpr Outcome kNoCardFound = Failed(1036, 157);
constexpr Outcome kCardGone = Failed(1040, 157);
constexpr Outcome kServiceRefused = Failed(1042, 159);
constexpr Outcome kOtherCard = Failed(1049, 100);
constexpr Outcome kAlreadyPolling = Failed(1055, 100);
constexpr Outcome kNoThread = Failed(1004, 104);
constexpr Outcome kOutOfMemory = Failed(1003, 103);

constexpr int kMaxMessageName = 255;
constexpr int kMaxServices = 16; // a block element has 4 bits for the service index

using Lock = std::unique_lock<std::mutex>;

// Latency, failure injection, the last error and the log, around the entry point's own work.
template <class Describe, class Body>
uint8_t Run(EntryPoint entry, Describe describe, Body body) noexcept {
  State& s = GetState();
  try {
    ShowReaderWindowIfAsked();
    int32_t delay;
    {
      std::lock_guard<std::mutex> guard(s.mutex);
      delay = s.latency[entry];
    }
    if (delay > 0)
      Sleep(static_cast<DWORD>(delay));
    std::string line = kEntryPointNames[entry] + describe();

    Lock lock(s.mutex);
    Outcome outcome;
    Failure& failure = s.failures[entry];
    if (failure.times != 0) {
      if (failure.times > 0)
        --failure.times;
      outcome = Failed(failure.felicaType, failure.rwType);
    } else {
      outcome = body(s, lock);
    }
    if (!outcome.ok && !outcome.keepRecord) {
      s.lastFelicaType = outcome.felicaType;
      s.lastRwType = outcome.rwType;
    }
    s.log.push_back(line + (outcome.ok ? " -> 1" : " -> 0"));
    return outcome.ok ? 1 : 0;
  } catch (...) {
    try {
      std::lock_guard<std::mutex> guard(s.mutex);
      s.lastFelicaType = kOutOfMemory.felicaType;
      s.lastRwType = kOutOfMemory.rwType;
    } catch (...) {
    }
    return 0;
  }
}

bool ValidTimeSlot(uint8_t slot) { return slot == 0 || slot == 1 || slot == 3 || slot == 7 || slot == 15; }

std::string DescribePolling(const PollingParameters* p) {
  if (!p)
    return Field("params", "null");
  return Field("system", HexBytes(p->SystemCode, 2)) + Field("slot", std::to_string(p->TimeSlot));
}

// Stops continuous polling without holding the lock while the thread finishes.
void StopPollerUnlocked(State& s, Lock& lock) {
  auto poller = DetachPoller(s);
  if (!poller)
    return;
  lock.unlock();
  JoinPoller(poller);
  lock.lock();
}

} // namespace
} // namespace sim

using namespace sim;

READER_LIBRARY_ENTRY initialize_library() noexcept {
  return Run(kInitializeLibrary, [] { return std::string(); }, [](State& s, Lock&) {
    if (s.initialized)
      return kAlreadyInitialized;
    // The last error survives, so a failure from before can still be asked for.
    s.initialized = true;
    return kSuccess;
  });
}

READER_LIBRARY_ENTRY dispose_library() noexcept {
  return Run(kDisposeLibrary, [] { return std::string(); }, [](State& s, Lock& lock) {
    if (!s.initialized)
      return kNotInitialized;
    StopPollerUnlocked(s, lock);
    s.readerOpen = false;
    s.haveCallback = false;
    s.window = nullptr;
    s.initialized = false;
    return kSuccess;
  });
}

READER_LIBRARY_ENTRY open_reader_writer_auto() noexcept {
  return Run(kOpenReaderWriterAuto, [] { return std::string(); }, [](State& s, Lock&) {
    if (!s.initialized)
      return kNotInitialized;
    if (!s.readerAttached)
      return kNoReader;
    if (s.readerOpen)
      return kReaderAlreadyOpen;
    s.readerOpen = true;
    NotifyReaderChanged(s);
    return kSuccess;
  });
}

READER_LIBRARY_ENTRY close_reader_writer() noexcept {
  return Run(kCloseReaderWriter, [] { return std::string(); }, [](State& s, Lock& lock) {
    if (!s.initialized)
      return kNotInitialized;
    if (!s.readerOpen)
      return kReaderNotOpen;
    // A closed reader cannot poll.
    StopPollerUnlocked(s, lock);
    s.readerOpen = false;
    return kSuccess;
  });
}

READER_LIBRARY_ENTRY polling_and_get_card_information(const PollingParameters* params, uint8_t* cardCount,
                                           const CardInformationBuffers* buffers) noexcept {
  auto describe = [=] {
    std::string text = DescribePolling(params);
    if (!cardCount)
      text += Field("count", "null");
    if (!buffers)
      text += Field("buffers", "null");
    return text;
  };
  return Run(kPollingAndGetCardInformation, describe, [=](State& s, Lock&) {
    if (!s.initialized)
      return kNotInitialized;
    if (!params || !params->SystemCode || !cardCount || !buffers || !buffers->IDm || !buffers->PMm ||
        !ValidTimeSlot(params->TimeSlot))
      return kBadArgument;
    if (!s.readerOpen)
      return kReaderNotOpen;
    if (s.misbehaviour == 1)
      return kSuccess;
    if (!s.card || !HasSystem(*s.card, params->SystemCode[0], params->SystemCode[1]))
      return kNoCardFound;
    *cardCount = 1;
    std::memcpy(buffers->IDm, s.card->idm.data(), 8);
    std::memcpy(buffers->PMm, s.card->pmm.data(), 8);
    return kSuccess;
  });
}

READER_LIBRARY_ENTRY read_block_without_encryption(const BlockReadParameters* params, const BlockReadOutputs* outputs) noexcept {
  auto describe = [=] {
    std::string text;
    if (!params) {
      text = Field("params", "null");
    } else {
      text = Field("idm", HexBytes(params->IDm, 8)) + Field("services", std::to_string(params->ServiceCount)) +
             Field("service_list", HexBytes(params->ServiceCodeList, 2 * params->ServiceCount)) +
             Field("blocks", std::to_string(params->BlockCount)) +
             Field("block_list", HexBytes(params->BlockList, 2 * params->BlockCount));
    }
    if (!outputs)
      text += Field("outputs", "null");
    else
      text += Field("block_count_in", outputs->BlockCount ? std::to_string(*outputs->BlockCount) : "null");
    return text;
  };
  return Run(kReadBlockWithoutEncryption, describe, [=](State& s, Lock&) {
    if (!s.initialized)
      return kNotInitialized;
    if (!params || !params->IDm || !params->ServiceCodeList || !params->BlockList || !outputs ||
        !outputs->StatusFlag1 || !outputs->StatusFlag2 || !outputs->BlockCount || !outputs->BlockData)
      return kBadArgument;
    const int services = params->ServiceCount;
    const int blocks = params->BlockCount;
    // The initial block count is the data buffer's room: never write past it.
    if (services == 0 || services > kMaxServices || blocks == 0 || blocks > *outputs->BlockCount)
      return kBadArgument;
    for (int i = 0; i < blocks; ++i) {
      const uint8_t head = params->BlockList[2 * i];
      if (!(head & 0x80) || (head & 0x0F) >= services)
        return kBadArgument;
    }
    if (!s.readerOpen)
      return kReaderNotOpen;
    if (s.misbehaviour == 1)
      return kSuccess;
    if (!s.card)
      return kCardGone;
    if (std::memcmp(params->IDm, s.card->idm.data(), 8) != 0)
      return kOtherCard;

    std::vector<const Block*> read;
    for (int i = 0; i < blocks; ++i) {
      const uint8_t* element = params->BlockList + 2 * i;
      const uint8_t* code = params->ServiceCodeList + 2 * (element[0] & 0x0F);
      const Service* service = FindService(*s.card, static_cast<uint16_t>(code[0] | code[1] << 8));
      if (!service || element[1] >= service->blocks.size())
        return kServiceRefused;
      read.push_back(&service->blocks[element[1]]);
    }
    for (size_t i = 0; i < read.size(); ++i)
      std::memcpy(outputs->BlockData + 16 * i, read[i]->data(), 16);
    *outputs->StatusFlag1 = 0;
    *outputs->StatusFlag2 = 0;
    int reported = blocks;
    if (s.misbehaviour == 2)
      reported = *outputs->BlockCount < 255 ? *outputs->BlockCount + 1 : 255;
    *outputs->BlockCount = static_cast<uint8_t>(reported);
    return kSuccess;
  });
}

READER_LIBRARY_ENTRY get_last_error_types(int32_t* felicaType, int32_t* rwType) noexcept {
  auto describe = [=] {
    std::string text;
    if (!felicaType)
      text += Field("felica_type", "null");
    if (!rwType)
      text += Field("rw_type", "null");
    return text;
  };
  return Run(kGetLastErrorTypes, describe, [=](State& s, Lock&) {
    if (s.failErrorQuery)
      return Outcome{false, 0, 0, true};
    if (!s.initialized)
      return kNotInitialized;
    if (!felicaType || !rwType)
      return kBadArgument;
    *felicaType = s.lastFelicaType;
    *rwType = s.lastRwType;
    return kSuccess;
  });
}

READER_LIBRARY_ENTRY set_call_back_parameters(const CallbackParameters* params) noexcept {
  auto describe = [=] {
    if (!params)
      return Field("params", "null");
    char handle[16];
    wsprintfA(handle, "%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(params->Window)));
    return Field("hwnd", handle) + Field("find", BoundedText(params->FindMessageName, kMaxMessageName + 1)) +
           Field("loss", BoundedText(params->LossMessageName, kMaxMessageName + 1)) +
           Field("p1", std::to_string(params->Parameter1)) + Field("p2", std::to_string(params->Parameter2));
  };
  return Run(kSetCallBackParameters, describe, [=](State& s, Lock&) {
    if (!s.initialized)
      return kNotInitialized;
    if (!params || !params->FindMessageName || !params->LossMessageName)
      return kBadArgument;
    for (const char* name : {params->FindMessageName, params->LossMessageName}) {
      const size_t length = strnlen(name, kMaxMessageName + 1);
      if (length == 0 || length > kMaxMessageName)
        return kBadArgument;
    }
    HWND window = static_cast<HWND>(params->Window);
    if (!IsWindow(window))
      return kBadArgument;
    // The caller frees the names right after this call: only the registered ids are kept.
    const UINT find = RegisterWindowMessageA(params->FindMessageName);
    if (!find)
      return kFindNotRegistered;
    const UINT loss = RegisterWindowMessageA(params->LossMessageName);
    if (!loss)
      return kLossNotRegistered;
    s.haveCallback = true;
    s.window = window;
    s.findMessage = find;
    s.lossMessage = loss;
    return kSuccess;
  });
}

READER_LIBRARY_ENTRY start_polling(const PollingParameters* params) noexcept {
  return Run(kStartPolling, [=] { return DescribePolling(params); }, [=](State& s, Lock&) {
    if (!s.initialized)
      return kNotInitialized;
    if (!params || !params->SystemCode || !ValidTimeSlot(params->TimeSlot))
      return kBadArgument;
    if (!s.readerOpen)
      return kReaderNotOpen;
    if (s.poller)
      return kAlreadyPolling;
    if (!s.haveCallback)
      return kNoCallback;
    if (!StartPoller(s, params->SystemCode[0], params->SystemCode[1]))
      return kNoThread;
    return kSuccess;
  });
}

READER_LIBRARY_ENTRY stop_polling() noexcept {
  return Run(kStopPolling, [] { return std::string(); }, [](State& s, Lock& lock) {
    if (!s.initialized)
      return kNotInitialized;
    const bool polling = s.poller != nullptr;
    StopPollerUnlocked(s, lock); // also waits for a stop still under way elsewhere
    return polling ? kSuccess : kNotPolling;
  });
}
