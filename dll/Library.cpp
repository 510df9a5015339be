// The ten entry points of felica_for_vb.dll over PC/SC. Every one is noexcept and catches
// everything: nothing unwinds into the caller. Calls come from the caller's window thread;
// continuous polling runs on a thread of its own with its own PC/SC context.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "Reader.h"
#include "Watcher.h"
#include "felica/LibraryExports.h"
#include "felica/LibraryThread.h"

namespace {

using namespace pcsc;
using namespace FelicaAPI::Library;

constexpr ErrorPair kBadArgument{1002, 102};
constexpr ErrorPair kOutOfMemory{1003, 103};
constexpr ErrorPair kNoThread{1004, 104};
constexpr ErrorPair kNotInitialized{1005, 105};
constexpr ErrorPair kAlreadyInitialized{1006, 106};
constexpr ErrorPair kReaderNotOpen{1029, 120};
constexpr ErrorPair kReaderAlreadyOpen{1030, 121};
constexpr ErrorPair kFindNotRegistered{1032, 100};
constexpr ErrorPair kLossNotRegistered{1033, 100};
constexpr ErrorPair kNoCallback{1034, 163};
constexpr ErrorPair kNotPolling{1035, 100};
constexpr ErrorPair kAlreadyPolling{1055, 100};
constexpr ErrorPair kOk{0, 0};

// A window that does not answer cannot hold the polling thread, nor a stop, longer than this.
constexpr UINT kSendTimeoutMs = 2000;
constexpr DWORD kJoinTimeoutMs = 5000;
constexpr size_t kMaxMessageName = 255;
constexpr int kMaxServices = 16;
constexpr size_t kBlockSize = 16;

struct Poller {
  explicit Poller(const Table& table) : stopper(table) {}
  ~Poller() {
    if (thread)
      CloseHandle(thread);
  }
  Stopper stopper;
  WatchOptions options;
  HANDLE thread = nullptr;
  HWND window = nullptr;
  UINT findMessage = 0;
  UINT lossMessage = 0;
};

struct State {
  std::mutex mutex;
  bool initialized = false;
  bool open = false;
  Context context = 0;
  std::string reader;
  std::map<Idm, uint16_t> polled; // IDms polled since the reader was opened, with their system codes
  ErrorPair last{1000, 100};
  bool haveCallback = false;
  HWND window = nullptr;
  UINT findMessage = 0;
  UINT lossMessage = 0;
  std::shared_ptr<Poller> poller;
};

State& GetState() {
  // Never destroyed: at process exit the polling thread may still hold it.
  static State* state = new State;
  return *state;
}

const Table& Pcsc() { return PlatformTable(); }

// Runs an entry point's body; a failure's pair becomes the last error.
template <class Body>
uint8_t Run(Body body) noexcept {
  State& s = GetState();
  try {
    const ErrorPair outcome = body(s);
    if (outcome == kOk)
      return 1;
    std::lock_guard<std::mutex> guard(s.mutex);
    s.last = outcome;
  } catch (...) {
    std::lock_guard<std::mutex> guard(s.mutex);
    s.last = kOutOfMemory;
  }
  return 0;
}

bool ValidTimeSlot(uint8_t slot) { return slot == 0 || slot == 1 || slot == 3 || slot == 7 || slot == 15; }

bool ValidMessageName(const char* name) {
  if (!name || IsBadStringPtrA(name, kMaxMessageName + 1))
    return false;
  const size_t length = strnlen(name, kMaxMessageName + 1);
  return length > 0 && length <= kMaxMessageName;
}

void Send(Poller& poller, UINT message) {
  // Checked before every send: once a stop has begun, nothing more is sent.
  if (poller.stopper.Stopped())
    return;
  DWORD_PTR result;
  SendMessageTimeoutA(poller.window, message, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &result);
}

void RunPoller(Poller& poller) {
  WatchEvents events;
  events.found = [&poller](const CardId&, const std::optional<FelicaNumber>&) { Send(poller, poller.findMessage); };
  events.lost = [&poller] { Send(poller, poller.lossMessage); };
  Watch(Pcsc(), poller.options, poller.stopper, events);
}

ErrorPair StartPoller(State& s, uint16_t systemCode) {
  auto poller = std::make_shared<Poller>(Pcsc());
  poller->options.pin = ReaderPinFromEnvironment();
  poller->options.systemCode = systemCode;
  poller->window = s.window;
  poller->findMessage = s.findMessage;
  poller->lossMessage = s.lossMessage;
  poller->thread = StartLibraryThread<Poller, RunPoller>(poller);
  if (!poller->thread)
    return kNoThread;
  s.poller = std::move(poller);
  return kOk;
}

// Stops continuous polling; the caller holds no lock, since the thread may be sending to it.
void StopPoller(std::shared_ptr<Poller> poller) {
  if (!poller)
    return;
  poller->stopper.Stop();
  JoinTakingSentMessages(poller->thread, kJoinTimeoutMs);
}

std::shared_ptr<Poller> TakePoller(State& s) {
  std::lock_guard<std::mutex> guard(s.mutex);
  return std::move(s.poller);
}

void CloseReader(State& s) {
  StopPoller(TakePoller(s));
  std::lock_guard<std::mutex> guard(s.mutex);
  if (s.open)
    Pcsc().releaseContext(s.context);
  s.open = false;
  s.polled.clear();
}

// The state a card operation needs, copied out so no lock is held across PC/SC calls.
struct Opened {
  ErrorPair failure;
  Context context;
  std::string reader;
};

Opened OpenedReader(State& s) {
  std::lock_guard<std::mutex> guard(s.mutex);
  if (!s.initialized)
    return {kNotInitialized, 0, {}};
  if (!s.open)
    return {kReaderNotOpen, 0, {}};
  return {kOk, s.context, s.reader};
}

ErrorPair PollCard(const Opened& opened, uint16_t systemCode, Idm& idm, Pmm& pmm) {
  Session session(Pcsc(), opened.context, opened.reader, {});
  Fault connected = session.Connect();
  // An escape-channel reader polls through a direct connection when the service sees no card.
  if (connected == Fault::NoCard && systemCode != 0xFFFF && session.EscapeReader())
    connected = session.ConnectDirect();
  if (connected != Fault::None)
    return ErrorFor(Operation::Polling, connected);
  if (systemCode != 0xFFFF) {
    PollingReply reply;
    if (Fault fault = session.Poll(systemCode, reply); fault != Fault::None)
      return ErrorFor(Operation::RawPolling, fault);
    idm = reply.idm;
    pmm = reply.pmm;
    return kOk;
  }
  // A card that is not FeliCa is no card to the caller: another card's number is never an IDm.
  CardId card;
  if (Fault fault = session.Identify(card); fault != Fault::None)
    return ErrorFor(Operation::Polling, fault);
  if (card.kind != CardKind::Felica)
    return ErrorFor(Operation::Polling, Fault::NoCard);
  std::copy(card.id.begin(), card.id.end(), idm.begin());
  if (Fault fault = session.ReadPmm(pmm); fault != Fault::None) {
    // A reader that keeps the PMm to itself may still let a polling through; if not, the PMm
    // stays unknown (zeros) rather than failing a read of the IDm that did work.
    PollingReply reply;
    if (fault != Fault::Refused)
      return ErrorFor(Operation::Polling, fault);
    if (session.Poll(0xFFFF, reply) == Fault::None && reply.idm == idm)
      pmm = reply.pmm;
  }
  return kOk;
}

} // namespace

READER_LIBRARY_ENTRY initialize_library() noexcept {
  return Run([](State& s) {
    std::lock_guard<std::mutex> guard(s.mutex);
    if (s.initialized)
      return kAlreadyInitialized;
    s.initialized = true;
    return kOk;
  });
}

READER_LIBRARY_ENTRY dispose_library() noexcept {
  return Run([](State& s) {
    {
      std::lock_guard<std::mutex> guard(s.mutex);
      if (!s.initialized)
        return kNotInitialized;
    }
    CloseReader(s);
    std::lock_guard<std::mutex> guard(s.mutex);
    s.haveCallback = false;
    s.window = nullptr;
    s.initialized = false;
    return kOk;
  });
}

READER_LIBRARY_ENTRY open_reader_writer_auto() noexcept {
  return Run([](State& s) {
    {
      std::lock_guard<std::mutex> guard(s.mutex);
      if (!s.initialized)
        return kNotInitialized;
      if (s.open)
        return kReaderAlreadyOpen;
    }
    const Table& table = Pcsc();
    Context context = 0;
    // Windows stops its smart-card service while no reader is attached: that is "no reader".
    if (table.establishContext(&context) != kSuccess)
      return ErrorFor(Operation::Open, Fault::NoReader);
    std::vector<ReaderInfo> readers;
    const Fault fault = ListReaders(table, context, readers);
    const int chosen = fault == Fault::None ? ChooseReader(readers, ReaderPinFromEnvironment()) : -1;
    if (chosen < 0) {
      table.releaseContext(context);
      return ErrorFor(Operation::Open, fault == Fault::None ? Fault::NoReader : fault);
    }
    std::lock_guard<std::mutex> guard(s.mutex);
    s.context = context;
    s.reader = readers[static_cast<size_t>(chosen)].name;
    s.open = true;
    s.polled.clear();
    return kOk;
  });
}

READER_LIBRARY_ENTRY close_reader_writer() noexcept {
  return Run([](State& s) {
    {
      std::lock_guard<std::mutex> guard(s.mutex);
      if (!s.initialized)
        return kNotInitialized;
      if (!s.open)
        return kReaderNotOpen;
    }
    CloseReader(s);
    return kOk;
  });
}

READER_LIBRARY_ENTRY polling_and_get_card_information(const PollingParameters* parameters, uint8_t* cardCount,
                                                      const CardInformationBuffers* buffers) noexcept {
  return Run([=](State& s) {
    {
      std::lock_guard<std::mutex> guard(s.mutex);
      if (!s.initialized)
        return kNotInitialized;
    }
    if (!parameters || !parameters->SystemCode || !cardCount || !buffers || !buffers->IDm || !buffers->PMm ||
        !ValidTimeSlot(parameters->TimeSlot))
      return kBadArgument;
    const Opened opened = OpenedReader(s);
    if (!(opened.failure == kOk))
      return opened.failure;
    const uint16_t systemCode = static_cast<uint16_t>(parameters->SystemCode[0] << 8 | parameters->SystemCode[1]);
    Idm idm{};
    Pmm pmm{};
    if (ErrorPair failure = PollCard(opened, systemCode, idm, pmm); !(failure == kOk))
      return failure;
    {
      std::lock_guard<std::mutex> guard(s.mutex);
      s.polled[idm] = systemCode;
    }
    *cardCount = 1;
    std::copy(idm.begin(), idm.end(), buffers->IDm);
    std::copy(pmm.begin(), pmm.end(), buffers->PMm);
    return kOk;
  });
}

READER_LIBRARY_ENTRY read_block_without_encryption(const BlockReadParameters* parameters,
                                                   const BlockReadOutputs* outputs) noexcept {
  return Run([=](State& s) {
    {
      std::lock_guard<std::mutex> guard(s.mutex);
      if (!s.initialized)
        return kNotInitialized;
    }
    if (!parameters || !parameters->IDm || !parameters->ServiceCodeList || !parameters->BlockList || !outputs ||
        !outputs->StatusFlag1 || !outputs->StatusFlag2 || !outputs->BlockCount || !outputs->BlockData)
      return kBadArgument;
    const int services = parameters->ServiceCount;
    const int blocks = parameters->BlockCount;
    // Two bytes per block element; the data buffer has room for the initial block count.
    const std::span<const uint8_t> serviceList(parameters->ServiceCodeList, static_cast<size_t>(services) * 2);
    const std::span<const uint8_t> blockList(parameters->BlockList, static_cast<size_t>(blocks) * 2);
    if (services == 0 || services > kMaxServices || blocks == 0 || blocks > *outputs->BlockCount ||
        CountBlockElements(blockList) != blocks)
      return kBadArgument;
    const size_t room = *outputs->BlockCount * kBlockSize;
    const Opened opened = OpenedReader(s);
    if (!(opened.failure == kOk))
      return opened.failure;
    Idm idm;
    std::copy_n(parameters->IDm, idm.size(), idm.begin());
    uint16_t system = 0xFFFF;
    {
      std::lock_guard<std::mutex> guard(s.mutex);
      auto polled = s.polled.find(idm);
      if (polled == s.polled.end())
        return ErrorFor(Operation::BlockRead, Fault::NotPolled);
      system = polled->second;
    }
    Session session(Pcsc(), opened.context, opened.reader, {});
    ReadReply reply;
    Fault fault = session.Connect();
    if (fault == Fault::None)
      fault = session.ReadBlocks(idm, serviceList, blockList, reply, system);
    if (fault == Fault::StatusFlags) {
      *outputs->StatusFlag1 = reply.statusFlag1;
      *outputs->StatusFlag2 = reply.statusFlag2;
    }
    if (fault != Fault::None)
      return ErrorFor(Operation::BlockRead, fault);
    // The caller's buffer is only as large as it said: whatever a reader sent and a parser let
    // through, nothing beyond it is written.
    if (reply.blocks.size() > room || reply.blocks.size() % kBlockSize != 0)
      return ErrorFor(Operation::BlockRead, Fault::Malformed);
    const size_t count = reply.blocks.size() / kBlockSize;
    *outputs->StatusFlag1 = reply.statusFlag1;
    *outputs->StatusFlag2 = reply.statusFlag2;
    *outputs->BlockCount = static_cast<uint8_t>(count);
    std::copy(reply.blocks.begin(), reply.blocks.end(), outputs->BlockData);
    return kOk;
  });
}

READER_LIBRARY_ENTRY get_last_error_types(int32_t* felicaErrorType, int32_t* rwErrorType) noexcept {
  State& s = GetState();
  try {
    std::lock_guard<std::mutex> guard(s.mutex);
    if (!s.initialized)
      return 0; // outputs untouched; the last error stays for after initialising
    if (!felicaErrorType || !rwErrorType) {
      s.last = kBadArgument;
      return 0;
    }
    *felicaErrorType = s.last.felicaType;
    *rwErrorType = s.last.rwType;
    return 1;
  } catch (...) {
    return 0;
  }
}

READER_LIBRARY_ENTRY set_call_back_parameters(const CallbackParameters* parameters) noexcept {
  return Run([=](State& s) {
    {
      std::lock_guard<std::mutex> guard(s.mutex);
      if (!s.initialized)
        return kNotInitialized;
    }
    if (!parameters || !ValidMessageName(parameters->FindMessageName) ||
        !ValidMessageName(parameters->LossMessageName) || !IsWindow(static_cast<HWND>(parameters->Window)))
      return kBadArgument;
    const UINT find = RegisterWindowMessageA(parameters->FindMessageName);
    if (!find)
      return kFindNotRegistered;
    const UINT loss = RegisterWindowMessageA(parameters->LossMessageName);
    if (!loss)
      return kLossNotRegistered;
    std::lock_guard<std::mutex> guard(s.mutex);
    s.window = static_cast<HWND>(parameters->Window);
    s.findMessage = find;
    s.lossMessage = loss;
    s.haveCallback = true;
    return kOk;
  });
}

READER_LIBRARY_ENTRY start_polling(const PollingParameters* parameters) noexcept {
  return Run([=](State& s) {
    std::lock_guard<std::mutex> guard(s.mutex);
    if (!s.initialized)
      return kNotInitialized;
    if (!parameters || !parameters->SystemCode || !ValidTimeSlot(parameters->TimeSlot))
      return kBadArgument;
    if (!s.open)
      return kReaderNotOpen;
    if (s.poller)
      return kAlreadyPolling;
    if (!s.haveCallback)
      return kNoCallback;
    return StartPoller(s, static_cast<uint16_t>(parameters->SystemCode[0] << 8 | parameters->SystemCode[1]));
  });
}

READER_LIBRARY_ENTRY stop_polling() noexcept {
  return Run([](State& s) {
    std::shared_ptr<Poller> poller;
    {
      std::lock_guard<std::mutex> guard(s.mutex);
      if (!s.initialized)
        return kNotInitialized;
      if (!s.poller)
        return kNotPolling;
      poller = std::move(s.poller);
    }
    StopPoller(std::move(poller));
    return kOk;
  });
}
