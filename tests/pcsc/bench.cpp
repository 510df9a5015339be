// pcsc_bench: varnelo-reader against the same virtual reader as a plain pyscard client and a bare
// SCardGetStatusChange waiter, in one run, with no added latency. Prints "BENCH key=value" lines:
// milliseconds per read (median), the ratio to the plain client, PC/SC round trips (APDUs the
// virtual reader saw) per operation and dialect, and card arrival/removal to the watch line.
// Needs root (a private pcscd); VARNELO_READER_TOOL names the tool, VARNELO_PLAIN_CLIENT the
// pyscard client (plain_client.py beside this source by default).
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <sstream>

#include <sys/mount.h>

#include "Harness.h"

namespace {

constexpr int kRounds = 40;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double Since(Clock::time_point start, Clock::time_point end = Clock::now()) {
  return std::chrono::duration<double, std::milli>(end - start).count();
}

void Print(const std::string& key, double value) { std::printf("BENCH %s=%.2f\n", key.c_str(), value); }
void Print(const std::string& key, long value) { std::printf("BENCH %s=%ld\n", key.c_str(), value); }

bool Fail(const std::string& why) {
  std::fprintf(stderr, "pcsc_bench: %s\n", why.c_str());
  return false;
}

// Median milliseconds of one tool run; the APDUs of the last run in `apdus`.
bool TimeTool(VirtualReader& reader, const std::vector<std::string>& args, double& ms, std::vector<std::string>& apdus) {
  std::vector<std::string> argv{VarneloReaderPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<double> times;
  RunProgram(argv, Millis(20000));  // warm the caches, as for the plain client below
  for (int i = 0; i < kRounds; ++i) {
    reader.Do("log");
    const Clock::time_point start = Clock::now();
    const Finished f = RunProgram(argv, Millis(20000));
    times.push_back(Since(start));
    if (f.code != 0) return Fail("varnelo-reader failed: " + f.out + f.err);
  }
  ms = Median(times);
  std::istringstream log(reader.Do("log").substr(3));
  apdus.clear();
  for (std::string apdu; log >> apdu;) apdus.push_back(apdu);
  return true;
}

std::string PlainClient() {
  const char* value = std::getenv("VARNELO_PLAIN_CLIENT");
  return value != nullptr ? value : PLAIN_CLIENT_PATH;
}

// The plain client's median per round: one round per process (as a script would call it), and
// all rounds in one process (the PC/SC work alone).
bool TimePlain(const std::vector<std::string>& apdus, double& perProcess, double& inProcess) {
  std::vector<std::string> argv{"/usr/bin/python3", PlainClient(), ReaderName(0), "1"};
  argv.insert(argv.end(), apdus.begin(), apdus.end());
  std::vector<double> times;
  RunProgram(argv, Millis(20000));
  for (int i = 0; i < kRounds; ++i) {
    const Clock::time_point start = Clock::now();
    const Finished f = RunProgram(argv, Millis(20000));
    times.push_back(Since(start));
    if (f.code != 0) return Fail("plain client failed: " + f.err);
  }
  perProcess = Median(times);
  argv[3] = std::to_string(kRounds);
  const Finished f = RunProgram(argv, Millis(60000));
  if (f.code != 0) return Fail("plain client failed: " + f.err);
  inProcess = std::atof(f.out.c_str());
  return true;
}

bool Reads(int port) {
  VirtualReader reader(port, "transparent", "standard");
  if (!WaitCard(ReaderName(0), true, Millis(5000))) return Fail("pcscd never saw the card");
  const struct {
    const char* key;
    std::vector<std::string> args;
  } kinds[] = {{"read", {"read"}}, {"read_number", {"read", "--felica-number"}}};
  for (const auto& kind : kinds) {
    double ours = 0, process = 0, inProcess = 0;
    std::vector<std::string> apdus;
    if (!TimeTool(reader, kind.args, ours, apdus) || !TimePlain(apdus, process, inProcess)) return false;
    const std::string k = kind.key;
    Print("pcsc_" + k + "_ms", ours);
    Print("pyscard_" + k + "_process_ms", process);
    Print("pyscard_" + k + "_inprocess_ms", inProcess);
    Print("pcsc_" + k + "_ratio_process", ours / process);
    Print("pcsc_" + k + "_ratio_inprocess", ours / inProcess);
    Print("pcsc_" + k + "_apdus", static_cast<long>(apdus.size()));
  }
  reader.child().Stop();
  return WaitCard(ReaderName(0), false, Millis(5000)) || Fail("the card did not leave");
}

bool RoundTrips(int port) {
  for (const char* dialect : {"transparent", "pn53x", "bare", "ident"}) {
    VirtualReader reader(port, dialect, "standard");
    if (!WaitCard(ReaderName(0), true, Millis(5000))) return Fail("pcscd never saw the card");
    for (const auto& [key, args] : {std::pair<std::string, std::vector<std::string>>{"read", {"read"}},
                                    {"read_number", {"read", "--felica-number"}}}) {
      std::vector<std::string> argv{VarneloReaderPath()};
      argv.insert(argv.end(), args.begin(), args.end());
      reader.Do("count");
      RunProgram(argv, Millis(20000));  // the ident dialect's number read fails; its APDUs count all the same
      const std::string count = reader.Do("count");
      Print("pcsc_apdus_" + std::string(dialect) + "_" + key, std::atol(count.c_str() + count.find('=') + 1));
    }
    reader.child().Stop();
    if (!WaitCard(ReaderName(0), false, Millis(5000))) return Fail("the card did not leave");
  }
  return true;
}

// Milliseconds from the command to the first line of `child` that equals `line`.
double LineAfter(Child& child, const std::string& line, Clock::time_point start) {
  for (std::optional<Child::Line> l; (l = child.Next(Millis(5000)));)
    if (l->text == line) return Since(start, l->at);
  return -1;
}

bool Events(int port) {
  VirtualReader reader(port, "transparent", "none");
  Child watch({VarneloReaderPath(), "watch", "--reader", "00 00"});
  Child waiter({PeerPath(), "watch", ReaderName(0)});
  if (!waiter.Next(Millis(5000))) return Fail("the waiter did not start");
  std::this_thread::sleep_for(Millis(500));
  std::vector<double> arrival[2], removal[2];
  std::mt19937 random(7);
  for (int i = 0; i < 20; ++i) {
    // Start each event at another point of pcscd's 0.4 s look at the reader.
    std::this_thread::sleep_for(Millis(300 + random() % 400));
    Clock::time_point start = Clock::now();
    reader.Do("place standard");
    arrival[0].push_back(LineAfter(watch, "found IDm=012E4C8A1B3D5F70", start));
    arrival[1].push_back(LineAfter(waiter, "present", start));
    std::this_thread::sleep_for(Millis(300 + random() % 400));
    start = Clock::now();
    reader.Do("remove");
    removal[0].push_back(LineAfter(watch, "lost", start));
    removal[1].push_back(LineAfter(waiter, "empty", start));
  }
  for (auto* v : {arrival, removal})
    for (int j = 0; j < 2; ++j)
      if (std::count(v[j].begin(), v[j].end(), -1.0) > 0) return Fail("a watch line never came");
  const double a[2] = {Median(arrival[0]), Median(arrival[1])}, r[2] = {Median(removal[0]), Median(removal[1])};
  Print("pcsc_arrival_watch_ms", a[0]);
  Print("pcsc_arrival_waiter_ms", a[1]);
  Print("pcsc_arrival_ratio", a[0] / a[1]);
  Print("pcsc_removal_watch_ms", r[0]);
  Print("pcsc_removal_waiter_ms", r[1]);
  Print("pcsc_removal_ratio", r[0] / r[1]);
  return true;
}

}  // namespace

int main() {
  if (VarneloReaderPath().empty()) return Fail("set VARNELO_READER_TOOL to the varnelo-reader to measure"), 1;
  unsetenv("VARNELO_READER");
  const std::string why = EnterPrivateRunDir();
  if (!why.empty()) return Fail("cannot isolate pcscd: " + why), 1;
  bool ok = false;
  {
    Pcscd pcscd(TempDir() + "/pcscd");
    int port = 0;
    std::string started = "no free port pair";
    for (int attempt = 0; attempt < 3 && !started.empty(); ++attempt) started = pcscd.Start(port = FreePortPair());
    ok = started.empty() ? Reads(port) && RoundTrips(port) && Events(port) : Fail(started);
  }
  umount("/run/pcscd");
  std::filesystem::remove_all(TempDir());
  return ok ? 0 : 1;
}
