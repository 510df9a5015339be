// varnelo-reader: checks a FeliCa reader from the command line, through the same core as the
// library. Usage in README.md.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <pthread.h>
#endif

#include "Reader.h"
#include "Watcher.h"
#include "felica/FelicaAPI.h"

namespace {

using namespace pcsc;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

#ifdef _WIN32
constexpr const char kEscapeSetting[] =
    "DWORD EscapeCommandEnable=1 under the reader's Device Parameters registry key, then replug the reader";
#else
constexpr const char kEscapeSetting[] =
    "bit 0x0001 in ifdDriverOptions of the CCID driver's Info.plist, then restart pcscd";
#endif

constexpr const char kUsage[] =
    "usage: varnelo-reader list [--reader SUBSTRING]\n"
    "       varnelo-reader read [--felica-number] [--reader SUBSTRING]\n"
    "       varnelo-reader watch [--reader SUBSTRING]\n"
    "Without --reader, the reader named by the environment variable VARNELO_READER (a part of its\n"
    "name), else the usual choice: a reader with a FeliCa card, then one with a contactless card,\n"
    "then the first reader. Exit status 0 only when everything asked for was read.\n";

std::string Utf8(const std::wstring& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = static_cast<uint32_t>(text[i]);
    // UTF-16 where wchar_t is 16 bits wide.
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(text[++i]) - 0xDC00);
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string Hex(std::span<const uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

void Line(const std::string& text) {
  std::fputs((text + "\n").c_str(), stdout);
  std::fflush(stdout);
}

int Fail(Operation operation, Fault fault) {
  const ErrorPair pair = ErrorFor(operation, fault);
  Line("FeliCaErrorType=" + std::to_string(pair.felicaType) + " " + Utf8(FelicaAPI::FelicaErrorText(pair.felicaType)));
  Line("RWErrorType=" + std::to_string(pair.rwType) + " " + Utf8(FelicaAPI::RwErrorText(pair.rwType)));
  return kExitFailed;
}

void TraceCommand(bool sent, std::span<const uint8_t> bytes) {
  std::fprintf(stderr, "%s %s\n", sent ? ">" : "<", Hex(bytes).c_str());
}

struct Options {
  std::string command;
  std::string pin;
  bool felicaNumber = false;
};

bool ParseArguments(int argc, char** argv, Options& options) {
  options.pin = ReaderPinFromEnvironment();
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--reader" && i + 1 < argc) {
      options.pin = argv[++i];
    } else if (argument == "--felica-number") {
      options.felicaNumber = true;
    } else if (options.command.empty() && argument[0] != '-') {
      options.command = argument;
    } else {
      return false;
    }
  }
  if (options.felicaNumber && options.command != "read")
    return false;
  return options.command == "list" || options.command == "read" || options.command == "watch";
}

// The service's context and its readers, for one command.
class Service {
public:
  explicit Service(const Table& table) : table_(table) {
    rc_ = table.establishContext(&context_);
    // Without a context there is no service to speak of (Windows stops it without readers).
    failure_ = rc_ == kSuccess ? ListReaders(table, context_, readers_) : Fault::NoService;
  }
  ~Service() {
    if (rc_ == kSuccess)
      table_.releaseContext(context_);
  }
  Fault Failure() const { return failure_; }
  Context context() const { return context_; }
  const std::vector<ReaderInfo>& readers() const { return readers_; }

private:
  const Table& table_;
  Context context_ = 0;
  uint32_t rc_;
  Fault failure_;
  std::vector<ReaderInfo> readers_;
};

int List(const Table& table, const Options& options) {
  Service service(table);
  if (service.Failure() != Fault::None)
    return Fail(Operation::Open, service.Failure());
  const std::vector<ReaderInfo>& readers = service.readers();
  bool any = false;
  for (const ReaderInfo& reader : readers) {
    if (!options.pin.empty() && reader.name.find(options.pin) == std::string::npos)
      continue;
    any = true;
    Dialect dialect = Dialect::Unknown;
    // Without a card nothing tells a FeliCa reader from another: its escape setting is not shown.
    Session session(table, service.context(), reader.name, reader.atr);
    if (reader.cardPresent && session.Connect() == Fault::None)
      session.PrepareRaw(dialect);
    // The one thing a user can change about a reader: say it where the reader is named.
    const std::string escape = session.EscapeDisabled() ? std::string(" escape=disabled enable=\"") + kEscapeSetting + "\"" : "";
    Line(std::string("card=") + (reader.cardPresent ? "yes" : "no") + " dialect=" + DialectName(dialect) + escape +
         " reader=" + reader.name);
  }
  return any ? kExitOk : Fail(Operation::Open, Fault::NoReader);
}

int Read(const Table& table, const Options& options) {
  Service service(table);
  if (service.Failure() != Fault::None)
    return Fail(Operation::Open, service.Failure());
  const std::vector<ReaderInfo>& readers = service.readers();
  const int chosen = ChooseReader(readers, options.pin);
  if (chosen < 0)
    return Fail(Operation::Open, Fault::NoReader);
  const ReaderInfo& reader = readers[static_cast<size_t>(chosen)];
  if (!reader.cardPresent)
    return Fail(Operation::Polling, Fault::NoCard);

  Session session(table, service.context(), reader.name, reader.atr);
  Idm idm;
  Pmm pmm;
  Fault fault = session.Connect();
  if (fault == Fault::None)
    fault = session.ReadIdm(idm);
  if (fault != Fault::None)
    return Fail(Operation::Polling, fault);
  Line("IDm=" + Hex(idm));
  if (Fault pmmFault = session.ReadPmm(pmm); pmmFault != Fault::None) {
    // A reader that keeps the PMm to itself may still let a polling through.
    if (pmmFault != Fault::Refused)
      return Fail(Operation::Polling, pmmFault);
    PollingReply reply;
    if (Fault pollFault = session.Poll(0xFFFF, reply); pollFault != Fault::None)
      return Fail(Operation::Polling, pollFault);
    if (reply.idm != idm)
      return Fail(Operation::Polling, Fault::OtherCard);
    pmm = reply.pmm;
  }
  Line("PMm=" + Hex(pmm));
  if (!options.felicaNumber)
    return kExitOk;

  PollingReply common;
  if (fault = session.Poll(0xFE00, common); fault != Fault::None)
    return Fail(Operation::RawPolling, fault);
  static constexpr uint8_t kService[] = {0xCB, 0x33};
  static constexpr uint8_t kBlock[] = {0x80, 0x00};
  ReadReply block;
  if (fault = session.ReadBlocks(common.idm, kService, kBlock, block); fault != Fault::None)
    return Fail(Operation::BlockRead, fault);
  Line("FeliCaNumber=" + Hex(std::span<const uint8_t>(block.blocks).first(8)));
  return kExitOk;
}

#ifdef _WIN32
Stopper* gStopper = nullptr;
BOOL WINAPI OnConsoleControl(DWORD) {
  if (gStopper)
    gStopper->Stop();
  return TRUE;
}
#endif

int WatchCards(const Table& table, const Options& options) {
  // Lives as long as the process: a console handler may still run while it exits.
  static Stopper stopper(table);
  WatchOptions watch;
  watch.pin = options.pin;
  WatchEvents events;
  events.found = [](const Idm& idm) { Line("found IDm=" + Hex(idm)); };
  events.lost = [] { Line("lost"); };
#ifdef _WIN32
  gStopper = &stopper;
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  Watch(table, watch, stopper, events);
#else
  // The signals wait on this thread; the watcher runs on another, which the stop cancels.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread watcher([&] { Watch(table, watch, stopper, events); });
  int signal = 0;
  sigwait(&signals, &signal);
  stopper.Stop();
  watcher.join();
#endif
  return kExitOk;
}

} // namespace

int main(int argc, char** argv) {
  Options options;
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (!ParseArguments(argc, argv, options)) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
#ifdef _WIN32
  // The console shows the UTF-8 texts for this run only; its own code page comes back at exit.
  static const UINT consoleCodePage = GetConsoleOutputCP();
  SetConsoleOutputCP(CP_UTF8);
  std::atexit([] { SetConsoleOutputCP(consoleCodePage); });
#endif
  if (const char* trace = std::getenv("VARNELO_READER_TRACE"); trace && *trace == '1')
    GetTraffic().trace = TraceCommand;
  const Table& table = PlatformTable();
  if (options.command == "list")
    return List(table, options);
  if (options.command == "read")
    return Read(table, options);
  return WatchCards(table, options);
}
