// The PC/SC felica_for_vb.dll through its real ABI under Wine: plain-name exports, the records,
// argument checks and error types, and card messages to a real window, over the stand-in service.
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "felica/LibraryRecords.h"

using namespace FelicaAPI::Library;

namespace {

using Flag = uint8_t(__stdcall*)();
using Poll = uint8_t(__stdcall*)(const PollingParameters*, uint8_t*, const CardInformationBuffers*);
using Read = uint8_t(__stdcall*)(const BlockReadParameters*, const BlockReadOutputs*);
using Errors = uint8_t(__stdcall*)(int32_t*, int32_t*);
using Callback = uint8_t(__stdcall*)(const CallbackParameters*);
using Start = uint8_t(__stdcall*)(const PollingParameters*);

constexpr const char* kReader = "Test Reader 00 00";
// The stand-in's calls and dialects (tests/native/FakePcsc.h).
constexpr int kStatusChange = 3;
constexpr int kConnect = 5;
constexpr int kTransmit = 8;
constexpr int kConnectDirect = 9;
constexpr int kTransparent = 0, kPn53x = 1, kIdentificationOnly = 3, kEscape = 5, kPseudo = 6, kStorageLists = 7;
constexpr int kEscapeRefused = 4, kCommonFirst = 8, kBlockAfterCount = 64;
constexpr uint32_t kSharingViolation = 0x8010000B, kRemovedCard = 0x80100069;

struct Library {
  explicit Library(const wchar_t* path) : module(LoadLibraryW(path)) {}
  ~Library() {
    if (module)
      FreeLibrary(module);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  template <class F>
  F Get(const char* name) const {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  }
  HMODULE module;
};

std::wstring BesideTheProgram(const wchar_t* relative) {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring text(path, length);
  return text.substr(0, text.find_last_of(L'\\') + 1) + relative;
}

// A call that deadlocked on this thread can be waited for no other way: a timer ends the process
// with a failure when the call named has not returned in time.
struct Deadline {
  const char* call;
  DWORD ms;
};

VOID CALLBACK Overdue(void* argument, BOOLEAN) noexcept {
  const auto* deadline = static_cast<const Deadline*>(argument);
  ADD_FAILURE() << deadline->call << " has not returned after " << deadline->ms << " ms";
  std::fflush(stdout);
  TerminateProcess(GetCurrentProcess(), 1);
}

class PcscLibrary : public ::testing::Test {
protected:
  static void SetUpTestSuite() { library_ = new Library(L"felica_for_vb.dll"); }
  static void TearDownTestSuite() { delete library_; }

  void SetUp() override {
    ASSERT_NE(library_->module, nullptr);
    Control<void (*)()>("standin_reset")();
    initialize = Get<Flag>("initialize_library");
    dispose = Get<Flag>("dispose_library");
    open = Get<Flag>("open_reader_writer_auto");
    close = Get<Flag>("close_reader_writer");
    poll = Get<Poll>("polling_and_get_card_information");
    read = Get<Read>("read_block_without_encryption");
    errors = Get<Errors>("get_last_error_types");
    callback = Get<Callback>("set_call_back_parameters");
    start = Get<Start>("start_polling");
    stop = Get<Flag>("stop_polling");
  }

  void TearDown() override {
    dispose();
    if (window_)
      DestroyWindow(window_);
    window_ = nullptr;
    EXPECT_EQ(Control<int (*)()>("standin_open_contexts")(), 0) << "a PC/SC context was left open";
  }

  template <class F>
  F Get(const char* name) {
    F f = library_->Get<F>(name);
    EXPECT_NE(reinterpret_cast<void*>(f), nullptr) << name;
    return f;
  }
  template <class F>
  F Control(const char* name) {
    return library_->Get<F>(name);
  }

  void AddReader(const char* name = kReader) { Control<void (*)(const char*)>("standin_add_reader")(name); }
  void PlaceCard(int dialect, uint8_t last, int flags = 0, const char* reader = kReader) {
    Control<void (*)(const char*, int, uint8_t, int)>("standin_place_card")(reader, dialect, last, flags);
  }
  void RemoveCard() { Control<void (*)(const char*)>("standin_remove_card")(kReader); }
  void FailNext(int call, uint32_t code) { Control<void (*)(int, uint32_t)>("standin_fail_next")(call, code); }

  void OpenWithCard(int dialect = kTransparent, int flags = 0, const char* reader = kReader) {
    AddReader(reader);
    PlaceCard(dialect, 0x70, flags, reader);
    ASSERT_TRUE(initialize());
    ASSERT_TRUE(open());
  }

  std::pair<int32_t, int32_t> LastError() {
    int32_t felica = 0, rw = 0;
    EXPECT_TRUE(errors(&felica, &rw));
    return {felica, rw};
  }

  // Polls system code sc; the card count, IDm and PMm come back through the real records.
  uint8_t PollCard(uint16_t sc, std::array<uint8_t, 8>& idm, std::array<uint8_t, 8>* pmm = nullptr) {
    const uint8_t system[2] = {static_cast<uint8_t>(sc >> 8), static_cast<uint8_t>(sc)};
    std::array<uint8_t, 8> ignored{};
    PollingParameters parameters{system, 0};
    CardInformationBuffers buffers{idm.data(), pmm ? pmm->data() : ignored.data()};
    uint8_t count = 0;
    return poll(&parameters, &count, &buffers) ? count : 0;
  }

  HWND Window() {
    if (!window_)
      window_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    return window_;
  }

  // Card messages that reach the window within ms, as "find"/"loss".
  std::vector<std::string> Messages(DWORD ms, size_t enough = 1000) {
    const UINT find = RegisterWindowMessageA(kFindMessageName);
    const UINT loss = RegisterWindowMessageA(kLossMessageName);
    std::vector<std::string> seen;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms && seen.size() < enough) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
      MSG msg;
      // Sent messages are delivered inside PeekMessage; the window procedure of STATIC ignores them.
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
      std::lock_guard<std::mutex> guard(received_.mutex);
      for (UINT message : received_.messages)
        seen.push_back(message == find ? "find" : message == loss ? "loss" : "other");
      received_.messages.clear();
    }
    return seen;
  }

  void StartPolling() {
    HWND window = Window();
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Record));
    CallbackParameters parameters{window, kFindMessageName, kLossMessageName, 0, 1};
    ASSERT_TRUE(callback(&parameters));
    const uint8_t system[2] = {0xFF, 0xFF};
    PollingParameters polling{system, 0};
    ASSERT_TRUE(start(&polling));
  }

  // Whether a message sent by another thread waits for this one, which meanwhile takes none.
  static bool SentMessageWaiting(DWORD ms) {
    for (const DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(10))
      if (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE)
        return true;
    return false;
  }

  static LRESULT CALLBACK Record(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= 0xC000) {
      // As the program does: poll the card again while the library's send is still in flight.
      if (pollInHandler_ && message == RegisterWindowMessageA(kFindMessageName)) {
        const uint8_t system[2] = {0xFF, 0xFF};
        uint8_t idm[8], pmm[8], count = 0;
        PollingParameters parameters{system, 0};
        CardInformationBuffers buffers{idm, pmm};
        pollInHandler_(&parameters, &count, &buffers);
        polledInHandler_ = count;
      }
      std::lock_guard<std::mutex> guard(received_.mutex);
      received_.messages.push_back(message);
      return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }

  Flag initialize, dispose, open, close, stop;
  Poll poll;
  Read read;
  Errors errors;
  Callback callback;
  Start start;

  static Library* library_;
  static inline Poll pollInHandler_ = nullptr;
  static inline int polledInHandler_ = -1;
  struct Received {
    std::mutex mutex;
    std::vector<UINT> messages;
  };
  static Received received_;
  HWND window_ = nullptr;
};

Library* PcscLibrary::library_ = nullptr;
PcscLibrary::Received PcscLibrary::received_;

using Pair = std::pair<int32_t, int32_t>;

const std::array<uint8_t, 8> kIdm{0x01, 0x2E, 0x4C, 0x8A, 0x1B, 0x3D, 0x5F, 0x70};
const std::array<uint8_t, 8> kCommonIdm{0x11, 0x2E, 0x4C, 0x8A, 0x1B, 0x3D, 0x5F, 0x70};
const std::array<uint8_t, 8> kPmm{0x03, 0x01, 0x4B, 0x02, 0x4F, 0x49, 0x93, 0xFF};

} // namespace

TEST(PcscLibraryExports, BothLibrariesExportTheTenNamesPlainly) {
  Library standIn(L"felica_for_vb.dll");
  const std::wstring real = BesideTheProgram(L"..\\pcsc\\felica_for_vb.dll");
  Library winscard(real.c_str());
  ASSERT_NE(standIn.module, nullptr);
  ASSERT_NE(winscard.module, nullptr) << "the library over winscard.dll is built";
  ASSERT_NE(standIn.module, winscard.module);
  for (const char* name : kEntryPointNames) {
    EXPECT_NE(standIn.Get<Flag>(name), nullptr) << name;
    EXPECT_NE(winscard.Get<Flag>(name), nullptr) << name;
  }
  EXPECT_EQ(winscard.Get<Flag>("_initialize_library@0"), nullptr);
  EXPECT_EQ(winscard.Get<Flag>("standin_reset"), nullptr) << "no test hook in the real library";
}

TEST(PcscLibraryExports, WithoutASmartCardServiceOpeningIsNoReader) {
  // Wine's own winscard.dll here has no service behind it, like Windows without a reader.
  const std::wstring real = BesideTheProgram(L"..\\pcsc\\felica_for_vb.dll");
  Library winscard(real.c_str());
  ASSERT_NE(winscard.module, nullptr);
  ASSERT_TRUE(winscard.Get<Flag>("initialize_library")());
  EXPECT_FALSE(winscard.Get<Flag>("open_reader_writer_auto")());
  int32_t felica = 0, rw = 0;
  ASSERT_TRUE(winscard.Get<Errors>("get_last_error_types")(&felica, &rw));
  EXPECT_EQ(Pair(felica, rw), Pair(1028, 0));
  EXPECT_FALSE(winscard.Get<Flag>("close_reader_writer")());
  ASSERT_TRUE(winscard.Get<Errors>("get_last_error_types")(&felica, &rw));
  EXPECT_EQ(Pair(felica, rw), Pair(1029, 120));
  EXPECT_TRUE(winscard.Get<Flag>("dispose_library")());
}

TEST_F(PcscLibrary, LifecycleErrorTypes) {
  EXPECT_FALSE(open());
  EXPECT_FALSE(stop());
  int32_t felica = 7, rw = 7;
  EXPECT_FALSE(errors(&felica, &rw)) << "not initialised";
  EXPECT_EQ(Pair(felica, rw), Pair(7, 7)) << "outputs untouched";
  ASSERT_TRUE(initialize());
  EXPECT_EQ(LastError(), Pair(1005, 105)) << "the failure from before initialising";
  EXPECT_FALSE(initialize());
  EXPECT_EQ(LastError(), Pair(1006, 106));
  EXPECT_FALSE(open());
  EXPECT_EQ(LastError(), Pair(1028, 0)) << "no reader";
  EXPECT_FALSE(close());
  EXPECT_EQ(LastError(), Pair(1029, 120));
  AddReader();
  ASSERT_TRUE(open()) << "a reader without a card can be opened";
  EXPECT_FALSE(open());
  EXPECT_EQ(LastError(), Pair(1030, 121));
  EXPECT_FALSE(stop());
  EXPECT_EQ(LastError(), Pair(1035, 100));
  EXPECT_FALSE(errors(nullptr, &rw));
  EXPECT_EQ(LastError(), Pair(1002, 102));
  EXPECT_TRUE(close());
  EXPECT_TRUE(dispose());
  EXPECT_FALSE(dispose());
}

TEST_F(PcscLibrary, PollingFillsTheRecords) {
  OpenWithCard();
  std::array<uint8_t, 8> idm{}, pmm{};
  EXPECT_EQ(PollCard(0xFFFF, idm, &pmm), 1);
  EXPECT_EQ(idm, kIdm);
  EXPECT_EQ(pmm, kPmm);
  EXPECT_EQ(PollCard(0xFE00, idm, &pmm), 1);
  EXPECT_EQ(idm, kCommonIdm) << "the common area's IDm";
  RemoveCard();
  EXPECT_EQ(PollCard(0xFFFF, idm), 0);
  EXPECT_EQ(LastError(), Pair(1036, 157)) << "no card";
}

TEST_F(PcscLibrary, PollingFailuresKeepTheirTypes) {
  struct Case {
    const char* name;
    int dialect;
    int flags;
    uint16_t system;
    int failCall;
    uint32_t failCode;
    Pair error;
  };
  const Case cases[] = {
      {"no common area", kTransparent, 1, 0xFE00, -1, 0, {1036, 157}},
      {"no raw channel for FE 00", kIdentificationOnly, 0, 0xFE00, -1, 0, {1044, 160}},
      {"held by another program", kPn53x, 0, 0xFFFF, kConnect, kSharingViolation, {1027, 121}},
      {"card gone during the command", kPn53x, 0, 0xFE00, kTransmit, kRemovedCard, {1036, 157}},
  };
  for (const Case& c : cases) {
    SetUp();
    // A reader of its own per case: the library remembers each reader's dialect.
    OpenWithCard(c.dialect, c.flags, c.name);
    if (c.failCall >= 0)
      FailNext(c.failCall, c.failCode);
    std::array<uint8_t, 8> idm{};
    EXPECT_EQ(PollCard(c.system, idm), 0) << c.name;
    EXPECT_EQ(LastError(), c.error) << c.name;
    EXPECT_EQ(idm, (std::array<uint8_t, 8>{})) << c.name << ": nothing written on failure";
    TearDown();
  }
}

TEST_F(PcscLibrary, PollingArgumentChecks) {
  OpenWithCard();
  const uint8_t system[2] = {0xFF, 0xFF};
  uint8_t idm[8], pmm[8], count = 0;
  const PollingParameters good{system, 0}, noSystem{nullptr, 0}, badSlot{system, 2};
  const CardInformationBuffers buffers{idm, pmm}, noIdm{nullptr, pmm}, noPmm{idm, nullptr};
  struct Case {
    const char* name;
    const PollingParameters* parameters;
    uint8_t* count;
    const CardInformationBuffers* buffers;
  };
  const Case cases[] = {
      {"no parameters", nullptr, &count, &buffers}, {"no system code", &noSystem, &count, &buffers},
      {"time slot 2", &badSlot, &count, &buffers},  {"no count", &good, nullptr, &buffers},
      {"no buffers", &good, &count, nullptr},       {"no IDm buffer", &good, &count, &noIdm},
      {"no PMm buffer", &good, &count, &noPmm},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(poll(c.parameters, c.count, c.buffers)) << c.name;
    EXPECT_EQ(LastError(), Pair(1002, 102)) << c.name;
  }
  EXPECT_EQ(Control<unsigned (*)(int)>("standin_calls")(kConnect), 0u) << "nothing reached the reader";
}

TEST_F(PcscLibrary, BlockReadGivesTheNumberWithinTheRoom) {
  OpenWithCard(kPn53x);
  std::array<uint8_t, 8> idm{};
  ASSERT_EQ(PollCard(0xFE00, idm), 1);
  const uint8_t services[2] = {0xCB, 0x33}, blocks[2] = {0x80, 0x00};
  BlockReadParameters parameters{idm.data(), 1, services, 1, blocks};
  uint8_t flag1 = 0xEE, flag2 = 0xEE, count = 2;
  std::vector<uint8_t> data(32, 0xAA);
  BlockReadOutputs outputs{&flag1, &flag2, &count, data.data()};
  ASSERT_TRUE(read(&parameters, &outputs));
  EXPECT_EQ(flag1, 0);
  EXPECT_EQ(flag2, 0);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.begin() + 8),
            (std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0}));
  EXPECT_EQ(std::vector<uint8_t>(data.begin() + 16, data.end()), std::vector<uint8_t>(16, 0xAA))
      << "nothing written past the blocks read";
}

// The reply holds a block more than its count says: refused, whatever the parser let through.
TEST_F(PcscLibrary, BlockReadWritesNothingPastTheRoomWhateverTheReplySays) {
  OpenWithCard(kPn53x, kBlockAfterCount);
  std::array<uint8_t, 8> idm{};
  ASSERT_EQ(PollCard(0xFE00, idm), 1);
  const uint8_t services[2] = {0xCB, 0x33}, blocks[2] = {0x80, 0x00};
  BlockReadParameters parameters{idm.data(), 1, services, 1, blocks};
  uint8_t flag1 = 0, flag2 = 0, count = 1;
  std::vector<uint8_t> data(32, 0xAA); // room for one block, then bytes that are not the caller's
  BlockReadOutputs outputs{&flag1, &flag2, &count, data.data()};
  EXPECT_FALSE(read(&parameters, &outputs));
  EXPECT_EQ(LastError(), Pair(1042, 150));
  EXPECT_EQ(std::vector<uint8_t>(data.begin() + 16, data.end()), std::vector<uint8_t>(16, 0xAA));
}

TEST_F(PcscLibrary, BlockReadArgumentChecksAndFailures) {
  OpenWithCard(kTransparent, 2);
  std::array<uint8_t, 8> idm{};
  ASSERT_EQ(PollCard(0xFE00, idm), 1);
  const uint8_t services[34] = {0xCB, 0x33}, blocks[4] = {0x80, 0x00, 0x80, 0x01}, threeByte[2] = {0x00, 0x00};
  const uint8_t otherIdm[8] = {0x11, 0x2E, 0x4C, 0x8A, 0x1B, 0x3D, 0x5F, 0x71};
  uint8_t flag1 = 0, flag2 = 0, count = 1, data[32] = {};
  const BlockReadOutputs outputs{&flag1, &flag2, &count, data}, noData{&flag1, &flag2, &count, nullptr},
      noCount{&flag1, &flag2, nullptr, data};
  struct Case {
    const char* name;
    BlockReadParameters parameters;
    const BlockReadOutputs* outputs;
    uint8_t room;
    Pair error;
  };
  const Case cases[] = {
      {"no IDm", {nullptr, 1, services, 1, blocks}, &outputs, 1, {1002, 102}},
      {"no service list", {idm.data(), 1, nullptr, 1, blocks}, &outputs, 1, {1002, 102}},
      {"no block list", {idm.data(), 1, services, 1, nullptr}, &outputs, 1, {1002, 102}},
      {"no data buffer", {idm.data(), 1, services, 1, blocks}, &noData, 1, {1002, 102}},
      {"no block count", {idm.data(), 1, services, 1, blocks}, &noCount, 1, {1002, 102}},
      {"no outputs", {idm.data(), 1, services, 1, blocks}, nullptr, 1, {1002, 102}},
      {"no services", {idm.data(), 0, services, 1, blocks}, &outputs, 1, {1002, 102}},
      {"seventeen services", {idm.data(), 17, services, 1, blocks}, &outputs, 1, {1002, 102}},
      {"no blocks", {idm.data(), 1, services, 0, blocks}, &outputs, 1, {1002, 102}},
      {"more blocks than the room", {idm.data(), 1, services, 2, blocks}, &outputs, 1, {1002, 102}},
      {"a 3-byte element in a 2-byte list", {idm.data(), 1, services, 1, threeByte}, &outputs, 1, {1002, 102}},
      {"an IDm never polled", {otherIdm, 1, services, 1, blocks}, &outputs, 1, {1049, 100}},
      {"no 33CB service", {idm.data(), 1, services, 1, blocks}, &outputs, 1, {1042, 159}},
  };
  for (const Case& c : cases) {
    count = c.room;
    EXPECT_FALSE(read(&c.parameters, c.outputs)) << c.name;
    EXPECT_EQ(LastError(), c.error) << c.name;
  }
  EXPECT_EQ(flag1, 0x01) << "the card's status flags are handed back";
  EXPECT_EQ(flag2, 0xA6);
}

TEST_F(PcscLibrary, CallbackParameterChecks) {
  ASSERT_TRUE(initialize());
  const std::string tooLong(256, 'x');
  struct Case {
    const char* name;
    HWND window;
    const char* find;
    const char* loss;
  };
  const Case cases[] = {
      {"no window", nullptr, kFindMessageName, kLossMessageName},
      {"not a window", reinterpret_cast<HWND>(0x1234), kFindMessageName, kLossMessageName},
      {"no find name", Window(), nullptr, kLossMessageName},
      {"empty loss name", Window(), kFindMessageName, ""},
      {"a name of 256 bytes", Window(), tooLong.c_str(), kLossMessageName},
  };
  for (const Case& c : cases) {
    CallbackParameters parameters{c.window, c.find, c.loss, 0, 1};
    EXPECT_FALSE(callback(&parameters)) << c.name;
    EXPECT_EQ(LastError(), Pair(1002, 102)) << c.name;
  }
  EXPECT_FALSE(callback(nullptr));
  const uint8_t system[2] = {0xFF, 0xFF};
  PollingParameters polling{system, 0};
  AddReader();
  ASSERT_TRUE(open());
  EXPECT_FALSE(start(&polling));
  EXPECT_EQ(LastError(), Pair(1034, 163)) << "no callback parameters yet";
}

TEST_F(PcscLibrary, CardMessagesWhilePollingAndNoneAfterStop) {
  OpenWithCard();
  StartPolling();
  EXPECT_EQ(Messages(3000, 1), std::vector<std::string>{"find"}) << "a card already there counts as an arrival";
  const uint8_t system[2] = {0xFF, 0xFF};
  PollingParameters polling{system, 0};
  EXPECT_FALSE(start(&polling));
  EXPECT_EQ(LastError(), Pair(1055, 100));
  RemoveCard();
  EXPECT_EQ(Messages(3000, 1), std::vector<std::string>{"loss"});
  pollInHandler_ = poll;
  PlaceCard(kTransparent, 0x71);
  EXPECT_EQ(Messages(3000, 1), std::vector<std::string>{"find"});
  pollInHandler_ = nullptr;
  EXPECT_EQ(polledInHandler_, 1) << "a polling inside the find handler reads the card";
  ASSERT_TRUE(stop());
  RemoveCard();
  PlaceCard(kTransparent, 0x72);
  EXPECT_TRUE(Messages(600).empty()) << "no message after stop_polling";
}

TEST_F(PcscLibrary, ClosingAndDisposingStopPolling) {
  for (bool dispose_ : {false, true}) {
    SetUp();
    OpenWithCard();
    StartPolling();
    EXPECT_EQ(Messages(3000, 1), std::vector<std::string>{"find"});
    ASSERT_TRUE(dispose_ ? dispose() : close());
    RemoveCard();
    EXPECT_TRUE(Messages(600).empty()) << (dispose_ ? "after dispose" : "after close");
    EXPECT_FALSE(stop());
    TearDown();
  }
}

// The polling thread is inside its send of the card-found message when the window's thread closes
// or disposes: the close takes the message, and the handler's polling, as the program's, is served.
TEST_F(PcscLibrary, ClosingOrDisposingMidSendServesTheFoundHandler) {
  for (bool disposing : {false, true}) {
    SetUp();
    OpenWithCard();
    pollInHandler_ = poll;
    polledInHandler_ = -1;
    StartPolling();
    ASSERT_TRUE(SentMessageWaiting(3000)) << "the polling thread waits inside its send";
    const char* call = disposing ? "dispose_library" : "close_reader_writer";
    Deadline deadline{call, 10000};
    HANDLE timer = nullptr;
    ASSERT_TRUE(CreateTimerQueueTimer(&timer, nullptr, Overdue, &deadline, deadline.ms, 0, WT_EXECUTEONLYONCE));
    const DWORD start = GetTickCount();
    EXPECT_TRUE(disposing ? dispose() : close()) << call;
    DeleteTimerQueueTimer(nullptr, timer, nullptr);
    EXPECT_LT(GetTickCount() - start, 1500u) << call;
    pollInHandler_ = nullptr;
    EXPECT_EQ(polledInHandler_, 1) << call << ": the polling inside the find handler reads the card";
    EXPECT_EQ(Messages(300), std::vector<std::string>{"find"}) << call;
    TearDown();
  }
}

TEST_F(PcscLibrary, PollingWithAStatusWaitThatDoesNotWait) {
  Control<void (*)(int)>("standin_wait_blocks")(0);
  OpenWithCard();
  StartPolling();
  EXPECT_EQ(Messages(3000, 1), std::vector<std::string>{"find"});
  RemoveCard();
  EXPECT_EQ(Messages(3000, 1), std::vector<std::string>{"loss"});
  const unsigned before = Control<unsigned (*)(int)>("standin_calls")(kStatusChange);
  EXPECT_TRUE(Messages(500).empty()) << "nothing new, nothing sent";
  // A 10 ms pause between waits gives about fifty in half a second; a spin gives thousands.
  EXPECT_LT(Control<unsigned (*)(int)>("standin_calls")(kStatusChange) - before, 100u);
  ASSERT_TRUE(stop());
}

// The escape channel under Wine 10: Windows' control codes reach pcsc-lite unchanged and are
// refused there; the library then asks with pcsc-lite's and uses the code the feature list names.
TEST_F(PcscLibrary, EscapeChannelWithWindowsCodesRefusedAndPcscLitesTaken) {
  OpenWithCard(kEscape);
  std::array<uint8_t, 8> idm{};
  ASSERT_EQ(PollCard(0xFE00, idm), 1);
  EXPECT_EQ(idm, kCommonIdm);
  const uint8_t services[2] = {0xCB, 0x33}, blocks[2] = {0x80, 0x00};
  BlockReadParameters parameters{idm.data(), 1, services, 1, blocks};
  uint8_t flag1 = 0xEE, flag2 = 0xEE, count = 1, data[16] = {};
  BlockReadOutputs outputs{&flag1, &flag2, &count, data};
  ASSERT_TRUE(read(&parameters, &outputs)) << LastError().first;
  EXPECT_EQ(std::vector<uint8_t>(data, data + 8), (std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0}));
  uint32_t codes[16] = {};
  const int seen = Control<int (*)(uint32_t*, int)>("standin_control_codes")(codes, 16);
  ASSERT_GE(seen, 3);
  EXPECT_EQ(codes[0], 0x00313520u) << "Windows' feature request first";
  EXPECT_EQ(codes[1], 0x42000D48u) << "then pcsc-lite's";
  EXPECT_EQ(codes[2], 0x42000001u) << "then the escape code from the feature list";
  for (int i = 3; i < std::min(seen, 16); ++i)
    EXPECT_EQ(codes[i], 0x42000001u) << "the second connection knows the code: no feature request again";
  // Without a card the service offers no shared connection; the reader still polls through a direct one.
  RemoveCard();
  EXPECT_EQ(PollCard(0xFE00, idm), 0);
  EXPECT_EQ(LastError(), Pair(1036, 157)) << "no card";
  EXPECT_EQ(Control<unsigned (*)(int)>("standin_calls")(kConnectDirect), 1u);
}

TEST_F(PcscLibrary, OtherDialectsThroughTheLibrary) {
  struct Case {
    const char* name;
    int dialect;
    int flags;
    Pair fe00; // the FE 00 polling's failure; (0, 0) when it finds the card
    bool blockOfFfffIdm; // a block read with the IDm of an FF FF polling works
  };
  const Case cases[] = {
      {"escape channel refused by the driver's settings", kEscape, kEscapeRefused, {1044, 160}, false},
      {"pseudo-APDUs", kPseudo, 0, {0, 0}, false},
      {"storage card, common area first", kStorageLists, kCommonFirst, {1044, 160}, true},
      {"storage card, another system first", kStorageLists, 0, {1044, 160}, false},
  };
  const uint8_t services[2] = {0xCB, 0x33}, blocks[2] = {0x80, 0x00};
  for (const Case& c : cases) {
    SetUp();
    OpenWithCard(c.dialect, c.flags, c.name);
    std::array<uint8_t, 8> idm{};
    EXPECT_EQ(PollCard(0xFFFF, idm), 1) << c.name << ": the IDm always";
    EXPECT_EQ(idm, kIdm) << c.name;
    uint8_t flag1 = 0, flag2 = 0, count = 1, data[16] = {};
    BlockReadOutputs outputs{&flag1, &flag2, &count, data};
    BlockReadParameters parameters{idm.data(), 1, services, 1, blocks};
    EXPECT_EQ(read(&parameters, &outputs) != 0, c.blockOfFfffIdm) << c.name;
    std::array<uint8_t, 8> common{};
    if (c.fe00 == Pair(0, 0)) {
      ASSERT_EQ(PollCard(0xFE00, common), 1) << c.name;
      BlockReadParameters numberRead{common.data(), 1, services, 1, blocks};
      EXPECT_TRUE(read(&numberRead, &outputs)) << c.name;
      EXPECT_EQ(data[0], 0x12) << c.name;
    } else {
      EXPECT_EQ(PollCard(0xFE00, common), 0) << c.name;
      EXPECT_EQ(LastError(), c.fe00) << c.name;
    }
    TearDown();
  }
}

// A card that is not FeliCa is no card: its UID, even one of 8 bytes, never comes back as an IDm,
// and continuous polling announces nothing until a FeliCa card takes its place.
TEST_F(PcscLibrary, ACardThatIsNotFelicaIsNoCard) {
  for (int flags : {16, 32}) { // ISO 14443 A, ISO 15693
    SetUp();
    OpenWithCard(kTransparent, flags);
    for (uint16_t system : {0xFFFF, 0xFE00}) {
      std::array<uint8_t, 8> idm{};
      EXPECT_EQ(PollCard(system, idm), 0) << flags << " " << system;
      EXPECT_EQ(LastError(), Pair(1036, 157)) << flags << " " << system;
      EXPECT_EQ(idm, (std::array<uint8_t, 8>{})) << flags << " " << system;
    }
    StartPolling();
    EXPECT_TRUE(Messages(1000).empty()) << flags;
    PlaceCard(kTransparent, 0x70);
    EXPECT_EQ(Messages(3000, 1), std::vector<std::string>{"find"}) << flags;
    ASSERT_TRUE(stop());
    TearDown();
  }
}
