// pcsc_bench: varnelo-reader against the same virtual reader as a plain pyscard client and a bare
// SCardGetStatusChange waiter, in one run, with no added latency. Prints "BENCH key=value" lines:
// milliseconds per read (median), the ratio to the plain client (one process per read; all reads
// in one process; and the tool's time less a bare process start against the latter), PC/SC round
// trips (APDUs the virtual reader saw) and PC/SC calls per operation and dialect, and card
// arrival/removal to the watch line against the waiter (median and 95th percentile), all through
// our reader driver, which reports each change to pcscd at once.
// Needs root (a private pcscd); VARNELO_READER_TOOL names the tool, VARNELO_PLAIN_CLIENT the
// pyscard client (plain_client.py beside this source by default).
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
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

double Percentile95(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[std::min(v.size() - 1, (v.size() * 95 + 99) / 100 - 1)];
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

std::string PlainClient() {
  const char* value = std::getenv("VARNELO_PLAIN_CLIENT");
  return value != nullptr ? value : PLAIN_CLIENT_PATH;
}

std::vector<std::string> Plain(const std::vector<std::string>& apdus, int rounds) {
  std::vector<std::string> argv{"/usr/bin/python3", PlainClient(), ReaderName(0), std::to_string(rounds)};
  argv.insert(argv.end(), apdus.begin(), apdus.end());
  return argv;
}

// The APDUs of one tool run, as the virtual reader saw them.
bool ToolApdus(VirtualReader& reader, const std::vector<std::string>& argv, std::vector<std::string>& apdus) {
  reader.Do("log");
  const Finished f = RunProgram(argv, Millis(20000));
  if (f.code != 0) return Fail("varnelo-reader failed: " + f.out + f.err);
  std::istringstream log(reader.Do("log").substr(3));
  apdus.clear();
  for (std::string apdu; log >> apdu;) apdus.push_back(apdu);
  return true;
}

// The PC/SC calls of one run (each a round trip to pcscd), counted by the preloaded
// libpcsc-count; the calls one by one in `detail`. -1 when nothing was counted.
long PcscCalls(const std::vector<std::string>& argv, std::string& detail) {
  const std::string file = TempDir() + "/calls";
  std::remove(file.c_str());
  std::vector<std::string> counted{"/usr/bin/env", "LD_PRELOAD=" PCSC_COUNT_PATH, "PCSC_COUNT_FILE=" + file};
  counted.insert(counted.end(), argv.begin(), argv.end());
  RunProgram(counted, Millis(20000));
  std::ifstream in(file);
  long total = -1, n;
  detail.clear();
  for (std::string call; in >> call >> n;) {
    total = std::max(total, 0L) + n;
    detail += " " + call + "=" + std::to_string(n);
  }
  return total;
}

// Each program once per round, in turn, so that load from elsewhere on the machine falls on all
// of them alike: a bare process start (our PC/SC peer, which links what the tool links, printing
// its usage), the tool, and the plain client, one process per read.
bool Reads(int port) {
  VirtualReader reader(port, "transparent", "standard");
  if (!WaitCard(ReaderName(0), true, Millis(5000))) return Fail("pcscd never saw the card");
  const std::vector<std::string> read{VarneloReaderPath(), "read"}, number{VarneloReaderPath(), "read", "--felica-number"};
  std::vector<std::string> readApdus, numberApdus;
  if (!ToolApdus(reader, read, readApdus) || !ToolApdus(reader, number, numberApdus)) return false;
  const std::vector<std::vector<std::string>> programs{{PeerPath()}, read, number, Plain(readApdus, 1), Plain(numberApdus, 1)};
  std::vector<std::vector<double>> times(programs.size());
  for (int round = 0; round <= kRounds; ++round) {
    for (size_t i = 0; i < programs.size(); ++i) {
      // Let pcscd finish with the previous client first, so that no program pays for another.
      std::this_thread::sleep_for(Millis(20));
      const Clock::time_point start = Clock::now();
      const Finished f = RunProgram(programs[i], Millis(20000));
      if (round > 0) times[i].push_back(Since(start));  // round 0 warms the caches
      if (f.code != (i == 0 ? 2 : 0)) return Fail(programs[i][0] + " failed: " + f.out + f.err);
    }
  }
  const double startup = Median(times[0]);
  Print("process_start_ms", startup);
  const std::vector<std::string>* apdus[] = {&readApdus, &numberApdus};
  for (size_t k = 0; k < 2; ++k) {
    const Finished f = RunProgram(Plain(*apdus[k], kRounds), Millis(60000));
    if (f.code != 0) return Fail("plain client failed: " + f.err);
    const double ours = Median(times[1 + k]), process = Median(times[3 + k]), inProcess = std::atof(f.out.c_str());
    const std::string key = k == 0 ? "read" : "read_number";
    Print("pcsc_" + key + "_ms", ours);
    Print("pyscard_" + key + "_process_ms", process);
    Print("pyscard_" + key + "_inprocess_ms", inProcess);
    Print("pcsc_" + key + "_ratio_process", ours / process);
    Print("pcsc_" + key + "_ratio_inprocess", ours / inProcess);
    Print("pcsc_" + key + "_ratio_work", (ours - startup) / inProcess);
    std::string detail;
    Print("pcsc_" + key + "_calls", PcscCalls(k == 0 ? read : number, detail));
    Print("pcsc_" + key + "_apdus", static_cast<long>(apdus[k]->size()));
  }
  reader.child().Stop();
  return WaitCard(ReaderName(0), false, Millis(5000)) || Fail("the card did not leave");
}

// Per dialect and operation: the APDUs the virtual reader saw and all PC/SC calls of the tool.
// (The plain client cannot be counted this way: pyscard looks pcsc-lite's functions up itself.)
bool RoundTrips(int port) {
  for (const char* dialect : {"transparent", "pn53x", "bare", "ident"}) {
    VirtualReader reader(port, dialect, "standard");
    if (!WaitCard(ReaderName(0), true, Millis(5000))) return Fail("pcscd never saw the card");
    for (const auto& [op, args] : {std::pair<std::string, std::vector<std::string>>{"read", {"read"}},
                                   {"read_number", {"read", "--felica-number"}}}) {
      std::vector<std::string> argv{VarneloReaderPath()};
      argv.insert(argv.end(), args.begin(), args.end());
      reader.Do("log");
      std::string detail;
      const long calls = PcscCalls(argv, detail);  // the ident dialect's number read fails; its calls count all the same
      std::istringstream log(reader.Do("log").substr(3));
      long apdus = 0;
      for (std::string apdu; log >> apdu;) ++apdus;
      const std::string key = std::string(dialect) + "_" + op;
      Print("pcsc_apdus_" + key, apdus);
      Print("pcsc_calls_" + key, calls);
      std::printf("calls varnelo-reader %s %s:%s\n", dialect, op.c_str(), detail.c_str());
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
  for (int i = 0; i < kRounds; ++i) {
    // A random while after the last change was seen, so no change follows a fixed rhythm.
    std::this_thread::sleep_for(Millis(100 + random() % 200));
    Clock::time_point start = Clock::now();
    reader.Do("place standard");
    arrival[0].push_back(LineAfter(watch, "found card=felica IDm=012E4C8A1B3D5F70", start));
    arrival[1].push_back(LineAfter(waiter, "present", start));
    std::this_thread::sleep_for(Millis(100 + random() % 200));
    start = Clock::now();
    reader.Do("remove");
    removal[0].push_back(LineAfter(watch, "lost", start));
    removal[1].push_back(LineAfter(waiter, "empty", start));
  }
  for (auto* v : {arrival, removal})
    for (int j = 0; j < 2; ++j)
      if (std::count(v[j].begin(), v[j].end(), -1.0) > 0) return Fail("a watch line never came");
  for (const auto& [name, v] : {std::pair<std::string, std::vector<double>*>{"arrival", arrival}, {"removal", removal}}) {
    const double median[2] = {Median(v[0]), Median(v[1])}, p95[2] = {Percentile95(v[0]), Percentile95(v[1])};
    Print("pcsc_" + name + "_watch_ms", median[0]);
    Print("pcsc_" + name + "_waiter_ms", median[1]);
    Print("pcsc_" + name + "_ratio", median[0] / median[1]);
    Print("pcsc_" + name + "_extra_ms", median[0] - median[1]);
    Print("pcsc_" + name + "_watch_p95_ms", p95[0]);
    Print("pcsc_" + name + "_waiter_p95_ms", p95[1]);
    Print("pcsc_" + name + "_p95_ratio", p95[0] / p95[1]);
    Print("pcsc_" + name + "_changes", static_cast<long>(v[0].size()));
  }
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
