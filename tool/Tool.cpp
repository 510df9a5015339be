// varnelo-reader: checks a FeliCa reader from the command line, through the same core as the
// library. Usage in README.md.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <pthread.h>
#endif

#include "Arrivals.h"
#include "Console.h"
#include "Help.h"
#include "Reader.h"
#include "UserTexts.h"
#include "Watcher.h"
#include "felica/FelicaAPI.h"

namespace {

using namespace pcsc;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

using console::Say;
using console::Text;

constexpr Text kSeeHelp{"See varnelo-reader --help.", "varnelo-reader --help で使い方を表示します。"};
constexpr Text kUnknownCommand{"varnelo-reader: unknown command: ", "varnelo-reader: 不明なコマンドです: "};
constexpr Text kUnknownOption{"varnelo-reader: unknown option: ", "varnelo-reader: 不明なオプションです: "};
constexpr Text kSurplus{"varnelo-reader: surplus argument: ", "varnelo-reader: 余分な引数です: "};
constexpr Text kNoCommand{"varnelo-reader: no command given.", "varnelo-reader: コマンドを指定してください。"};
constexpr Text kReaderNeedsPart{"varnelo-reader: --reader needs a part of a reader's name.",
                                "varnelo-reader: --reader の後にリーダー名の一部を指定してください。"};
constexpr Text kFelicaNumberOnlyRead{"varnelo-reader: --felica-number goes with read only.",
                                     "varnelo-reader: --felica-number は read と一緒にだけ使えます。"};
constexpr Text kCsvNeedsFile{"varnelo-reader: --csv needs the name of a file.",
                            "varnelo-reader: --csv の後にファイル名を指定してください。"};
constexpr Text kThenNeedsKey{"varnelo-reader: --then takes enter, tab or none.",
                             "varnelo-reader: --then の後には enter、tab、none のどれかを指定してください。"};
constexpr Text kWatchOptionsOnly{"varnelo-reader: --csv and --beep go with watch and type only.",
                                 "varnelo-reader: --csv と --beep は watch と type と一緒にだけ使えます。"};
constexpr Text kAnyCardOnlyType{"varnelo-reader: --any-card goes with type only.",
                                "varnelo-reader: --any-card は type と一緒にだけ使えます。"};
constexpr Text kFormatNeedsWords{
    "varnelo-reader: --format takes words such as decimal,reversed (see --help); not understood: ",
    "varnelo-reader: --format には decimal,reversed のような語を指定してください (--help を参照)。"
    "分からない語: "};
constexpr Text kFormatOnlyReading{"varnelo-reader: --format goes with read, watch and type only.",
                                  "varnelo-reader: --format は read、watch、type と一緒にだけ使えます。"};
constexpr Text kThenOnlyType{"varnelo-reader: --then goes with type only.",
                             "varnelo-reader: --then は type と一緒にだけ使えます。"};
constexpr Text kWaiting{"Waiting for a card; press Ctrl+C to stop.",
                        "カードを待っています。Ctrl+C で終わります。"};
constexpr Text kPressKey{"Press any key to close this window.", "何かキーを押すとこのウィンドウを閉じます。"};
// Double-clicked with no reader: first what to do, then the details.
constexpr Text kConnectReader{"No card reader found. Connect the reader, then start varnelo-reader again.",
                               "リーダーが見つかりません。リーダーをつないでから、もう一度起動してください。"};
constexpr Text kNoLibrary{
    "varnelo-reader: no felica_for_vb.dll beside varnelo.exe, in the system folders or on PATH.",
    "varnelo-reader: felica_for_vb.dll が varnelo.exe と同じフォルダーにも、システム フォルダーにも、PATH にもありません。"};

#ifdef _WIN32
constexpr const char kEscapeSetting[] =
    "DWORD EscapeCommandEnable=1 under the reader's Device Parameters registry key, then replug the reader";
#else
constexpr const char kEscapeSetting[] =
    "bit 0x0001 in ifdDriverOptions of the CCID driver's Info.plist, then restart pcscd";
#endif

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

void Line(const std::string& text) { console::Line(console::Stream::Out, text); }
void ErrorLine(const std::string& text) { console::Line(console::Stream::Err, text); }

int Fail(Operation operation, Fault fault) {
  const ErrorPair pair = ErrorFor(operation, fault);
  const bool japanese = console::UserLanguageIsJapanese();
  ErrorLine("FeliCaErrorType=" + std::to_string(pair.felicaType) + " " +
            (japanese ? Utf8(FelicaAPI::FelicaErrorText(pair.felicaType)) : FelicaAPI::FelicaErrorTextEnglish(pair.felicaType)));
  ErrorLine("RWErrorType=" + std::to_string(pair.rwType) + " " +
            (japanese ? Utf8(FelicaAPI::RwErrorText(pair.rwType)) : FelicaAPI::RwErrorTextEnglish(pair.rwType)));
  return kExitFailed;
}

void TraceCommand(bool sent, std::span<const uint8_t> bytes) {
  ErrorLine(std::string(sent ? "> " : "< ") + HexText(bytes));
}

// card=<kind>, then a FeliCa card's IDm= or another card's UID=, and random=yes.
std::vector<std::string> CardFields(const CardId& card) {
  std::vector<std::string> fields{std::string("card=") + CardKindName(card.kind)};
  if (!card.id.empty())
    fields.push_back((card.kind == CardKind::Felica ? "IDm=" : "UID=") + HexText(card.id));
  if (RandomId(card))
    fields.push_back("random=yes");
  return fields;
}

struct Options {
  std::string command;
  std::string pin;
  bool felicaNumber = false;
  bool formGiven = false;
  bool doubleClicked = false;
  ArrivalOptions arrivals;
};

// A command or an option as written; on Windows in any case, as its programs take them.
std::string Word(const char* argument) {
  std::string word = argument;
#ifdef _WIN32
  for (char& c : word)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
#endif
  return word;
}

bool IsHelp(const std::string& argument) { return argument == "/?" || argument == "-h" || argument == "--help"; }

bool IsCommand(const std::string& name) {
  return name == "list" || name == "read" || name == "watch" || name == "type"
#ifdef _WIN32
         || name == "library"
#endif
      ;
}

// The problem with the command line, or empty when it is one to run.
std::string ParseArguments(int argc, char** argv, Options& options) {
  options.pin = ReaderPinFromEnvironment();
  bool thenGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = Word(argv[i]);
    if (argument == "--reader") {
      if (i + 1 >= argc)
        return Say(kReaderNeedsPart);
      options.pin = argv[++i];
    } else if (argument == "--felica-number") {
      options.felicaNumber = true;
    } else if (argument == "--csv") {
      if (i + 1 >= argc)
        return Say(kCsvNeedsFile);
      options.arrivals.csv = argv[++i];
    } else if (argument == "--format") {
      std::string bad;
      const auto form = i + 1 < argc ? ParseIdForm(argv[++i], bad) : std::nullopt;
      if (!form)
        return Say(kFormatNeedsWords) + bad;
      options.arrivals.form = *form;
      options.formGiven = true;
    } else if (argument == "--any-card") {
      options.arrivals.anyCard = true;
    } else if (argument == "--beep") {
      options.arrivals.beep = true;
    } else if (argument == "--then") {
      const std::string then = i + 1 < argc ? Word(argv[++i]) : "";
      if (then != "enter" && then != "tab" && then != "none")
        return Say(kThenNeedsKey);
      options.arrivals.then = then == "enter" ? ThenKey::Enter : then == "tab" ? ThenKey::Tab : ThenKey::None;
      thenGiven = true;
    } else if (!argument.empty() && (argument[0] == '-' || argument[0] == '/')) {
      return Say(kUnknownOption) + std::string(argv[i]);
    } else if (!options.command.empty()) {
      return Say(kSurplus) + std::string(argv[i]);
    } else if (!IsCommand(argument)) {
      return Say(kUnknownCommand) + std::string(argv[i]);
    } else {
      options.command = argument;
    }
  }
  if (options.command.empty())
    return Say(kNoCommand);
  if (options.felicaNumber && options.command != "read")
    return Say(kFelicaNumberOnlyRead);
  const bool watching = options.command == "watch" || options.command == "type";
  if ((!options.arrivals.csv.empty() || options.arrivals.beep) && !watching)
    return Say(kWatchOptionsOnly);
  if (thenGiven && options.command != "type")
    return Say(kThenOnlyType);
  if (options.arrivals.anyCard && options.command != "type")
    return Say(kAnyCardOnlyType);
  if (options.formGiven && options.command != "read" && !watching)
    return Say(kFormatOnlyReading);
  // The form's number is read as --felica-number reads it.
  if (options.command == "read" && options.arrivals.form.source == IdForm::Source::FelicaNumber)
    options.felicaNumber = true;
  options.arrivals.type = options.command == "type";
  return {};
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

// No reader: to a person who double-clicked the tool, first a sentence saying what to do.
int NoReader(const Options& options, Fault fault) {
  if (options.doubleClicked)
    console::Tell(kConnectReader);
  return Fail(Operation::Open, fault);
}

int List(const Table& table, const Options& options) {
  Service service(table);
  if (service.Failure() != Fault::None)
    return NoReader(options, service.Failure());
  const std::vector<ReaderInfo>& readers = service.readers();
  bool any = false;
  for (const ReaderInfo& reader : readers) {
    if (!options.pin.empty() && reader.name.find(options.pin) == std::string::npos)
      continue;
    any = true;
    Dialect dialect = Dialect::Unknown;
    // Only a FeliCa card tells a FeliCa reader from another: without one its escape setting is not shown.
    Session session(table, service.context(), reader.name, reader.atr);
    CardId card{reader.cardPresent ? ReadAtr(reader.atr).kind : CardKind::None, {}};
    if (reader.cardPresent && session.Connect() == Fault::None) {
      session.Identify(card);
      if (card.kind == CardKind::Felica)
        session.PrepareRaw(dialect);
    }
    // The one thing a user can change about a reader: say it where the reader is named.
    const bool hint = card.kind == CardKind::Felica && session.EscapeDisabled();
    const std::string escape = hint ? std::string(" escape=disabled enable=\"") + kEscapeSetting + "\"" : "";
    Line(std::string("card=") + CardKindName(card.kind) + " dialect=" + DialectName(dialect) + escape +
         " reader=" + reader.name);
  }
  return any ? kExitOk : NoReader(options, Fault::NoReader);
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
  if (!reader.cardPresent) {
    Line("card=none");
    return Fail(Operation::Polling, Fault::NoCard);
  }

  Session session(table, service.context(), reader.name, reader.atr);
  CardId card;
  Fault fault = session.Connect();
  if (fault == Fault::None)
    fault = session.Identify(card);
  if (fault != Fault::None)
    return Fail(Operation::Polling, fault);
  for (const std::string& field : CardFields(card))
    Line(field);
  if (card.kind != CardKind::Felica) {
    if (RandomId(card))
      console::Tell(kRandomUid);
    console::Tell(kNotFelica);
    return kExitFailed;
  }
  Idm idm;
  std::copy_n(card.id.begin(), idm.size(), idm.begin());
  if (options.formGiven && options.arrivals.form.source == IdForm::Source::Idm)
    Line("ID=" + FormatId(idm, options.arrivals.form));
  Pmm pmm;
  Fault pmmFault = session.ReadPmm(pmm);
  if (pmmFault == Fault::Refused) {
    // A reader that keeps the PMm to itself may still let a polling through.
    PollingReply reply;
    pmmFault = session.Poll(0xFFFF, reply);
    if (pmmFault == Fault::None && reply.idm != idm)
      pmmFault = Fault::OtherCard;
    else if (pmmFault == Fault::None && !reply.pmmKnown)
      pmmFault = Fault::NoRawChannel;
    pmm = reply.pmm;
  }
  // A reader with no way to give the PMm may still reach the number.
  if (pmmFault == Fault::None)
    Line("PMm=" + HexText(pmm));
  else if (pmmFault != Fault::NoRawChannel || !options.felicaNumber)
    return Fail(Operation::Polling, pmmFault);
  if (!options.felicaNumber)
    return kExitOk;

  FelicaNumber number;
  Operation failed;
  if (fault = ReadFelicaNumber(session, number, failed); fault != Fault::None)
    return Fail(failed, fault);
  Line("FeliCaNumber=" + HexText(number));
  if (options.formGiven && options.arrivals.form.source == IdForm::Source::FelicaNumber)
    Line("ID=" + FormatId(number, options.arrivals.form));
  return pmmFault == Fault::None ? kExitOk : Fail(Operation::Polling, pmmFault);
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
  Arrivals arrivals(options.arrivals);
  if (!arrivals.Start())
    return kExitFailed;
  WatchOptions watch;
  watch.pin = options.pin;
  watch.anyCard = true;
  watch.felicaNumber = options.arrivals.form.source == IdForm::Source::FelicaNumber;
  WatchEvents events;
  // Reported once typed and listed: a line on the console means the card is in the file.
  events.found = [&arrivals, &options](const CardId& card, const std::optional<FelicaNumber>& number) {
    arrivals.Arrived(card, number);
    std::string line = "found";
    for (const std::string& field : CardFields(card))
      line += " " + field;
    if (options.formGiven && card.kind == CardKind::Felica)
      if (const auto id = FormedId(card, number, options.arrivals.form))
        line += " ID=" + *id;
    Line(line);
    if (RandomId(card))
      console::Tell(kRandomUid);
  };
  events.lost = [] { Line("lost"); };
  // No reader is said at once; its arrival only after that.
  bool readerAwaited = false;
  events.reader = [&readerAwaited, &options](const std::string& name) {
    if (name.empty() && !std::exchange(readerAwaited, true)) {
      if (options.pin.empty())
        console::Tell(kNoReaderYet);
      else
        console::Tell(kNoNamedReaderYet, options.pin);
    } else if (!name.empty() && std::exchange(readerAwaited, false)) {
      console::Tell(kReaderArrived, name);
    }
  };
  // type says how it waits itself.
  if (!options.arrivals.type)
    ErrorLine(Say(kWaiting));
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


#ifdef _WIN32
// The felica_for_vb.dll that varnelo.exe beside this tool would load, in its own order
// (felica/Library.cpp): its folder, the system folders, then PATH; never the current directory.
std::wstring FindReaderLibrary() {
  std::vector<std::wstring> folders;
  wchar_t buffer[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    const std::wstring self(buffer, length);
    folders.push_back(self.substr(0, self.find_last_of(L'\\')));
  }
  if (const UINT n = GetSystemDirectoryW(buffer, MAX_PATH); n > 0 && n < MAX_PATH)
    folders.push_back(buffer);
  if (const UINT n = GetWindowsDirectoryW(buffer, MAX_PATH); n > 0 && n < MAX_PATH) {
    folders.push_back(std::wstring(buffer) + L"\\System");
    folders.push_back(buffer);
  }
  std::wstring path(GetEnvironmentVariableW(L"PATH", nullptr, 0), L'\0');
  path.resize(GetEnvironmentVariableW(L"PATH", path.data(), static_cast<DWORD>(path.size())));
  for (size_t start = 0; start <= path.size();) {
    size_t end = path.find(L';', start);
    if (end == std::wstring::npos)
      end = path.size();
    std::wstring folder = path.substr(start, end - start);
    std::erase(folder, L'"');
    if (!folder.empty())
      folders.push_back(folder);
    start = end + 1;
  }
  for (std::wstring folder : folders) {
    if (!folder.empty() && folder.back() == L'\\')
      folder.pop_back();
    const std::wstring candidate = folder + L"\\felica_for_vb.dll";
    const DWORD attributes = GetFileAttributesW(candidate.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
      return candidate;
  }
  return {};
}

// A value of the file's version information in its first language, or empty.
std::wstring VersionValue(const std::vector<char>& info, const wchar_t* name) {
  struct Translation {
    WORD language, codePage;
  }* translation = nullptr;
  UINT size = 0;
  if (info.empty() || !VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                                      reinterpret_cast<void**>(&translation), &size) || size < sizeof *translation)
    return {};
  wchar_t query[96];
  swprintf(query, 96, L"\\StringFileInfo\\%04x%04x\\%ls", translation->language, translation->codePage, name);
  wchar_t* value = nullptr;
  if (!VerQueryValueW(info.data(), query, reinterpret_cast<void**>(&value), &size) || size == 0)
    return {};
  return std::wstring(value, wcsnlen(value, size));
}

int Library() {
  const std::wstring path = FindReaderLibrary();
  if (path.empty()) {
    Line("library=none");
    ErrorLine(Say(kNoLibrary));
    return kExitFailed;
  }
  DWORD ignored = 0;
  std::vector<char> info(GetFileVersionInfoSizeW(path.c_str(), &ignored));
  if (!info.empty() && !GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()))
    info.clear();
  // Ours says so in its version information; another maker's library of the same name does not.
  const bool ours = VersionValue(info, L"ProductName") == L"Varnelo" &&
                    VersionValue(info, L"OriginalFilename") == L"felica_for_vb.dll";
  const std::wstring version = VersionValue(info, L"FileVersion");
  Line("library=" + Utf8(path) + " ours=" + (ours ? "yes" : "no") +
       " version=" + (version.empty() ? std::string("none") : Utf8(version)));
  return kExitOk;
}
#endif

int Run(const Options& options) {
#ifdef _WIN32
  if (options.command == "library")
    return Library();
#endif
  if (options.arrivals.type && !TypingAvailable()) {
    console::Tell(kTypingUnavailable);
    return kExitFailed;
  }
  if (const char* trace = std::getenv("VARNELO_READER_TRACE"); trace && *trace == '1')
    GetTraffic().trace = TraceCommand;
  const Table& table = PlatformTable();
  if (options.command == "list")
    return List(table, options);
  if (options.command == "read")
    return Read(table, options);
  return WatchCards(table, options);
}

} // namespace

int main(int argc, char** argv) {
  console::SetProgramName("varnelo-reader");
  Options options;
  // Double-clicked, the console goes with the program: show the readers and wait for a key.
  if (argc == 1 && console::OwnsItsConsole()) {
    options.pin = ReaderPinFromEnvironment();
    options.command = "list";
    options.doubleClicked = true;
    const int status = Run(options);
    console::Line(console::Stream::Err, "");
    console::Line(console::Stream::Err, Say(kPressKey));
    console::WaitForKey();
    return status;
  }
  // Help anywhere on the line: the help of the command given, if any.
  for (int i = 1; i < argc; ++i) {
    if (!IsHelp(Word(argv[i])))
      continue;
    std::string command;
    for (int k = 1; k < argc && command.empty(); ++k)
      if (IsCommand(Word(argv[k])))
        command = Word(argv[k]);
    console::Write(console::Stream::Out, Help(command));
    return kExitOk;
  }
  if (const std::string problem = ParseArguments(argc, argv, options); !problem.empty()) {
    console::Line(console::Stream::Err, problem);
    console::Line(console::Stream::Err, Say(kSeeHelp));
    return kExitUsage;
  }
  return Run(options);
}
