// Runs a private PC/SC stack for the tests and the benchmark: pcscd in a mount namespace of this
// process, virtual readers behind its vpcd driver, and client processes, each bounded in time.
#pragma once
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

// Moves this process (and so every child) into a private mount namespace with its own tmpfs on
// /run/pcscd, where pcscd and its clients meet. Needs root; call before any thread starts.
// Returns an empty string or why it failed.
std::string EnterPrivateRunDir();

struct Finished {
  int code = -1;       // exit code, or 128 + signal
  bool timedOut = false;
  std::string out, err;
};

// Runs a program to its end, killed after the timeout.
Finished RunProgram(const std::vector<std::string>& argv, Millis timeout);

// A long-running child whose output lines are collected, with the time each arrived.
class Child {
 public:
  struct Line {
    Clock::time_point at;
    std::string text;
  };
  explicit Child(const std::vector<std::string>& argv, const std::string& errorLog = "/dev/null");
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  int pid() const { return pid_; }
  void Send(const std::string& line);
  // The next unread line, waiting at most the timeout.
  std::optional<Line> Next(Millis timeout);
  // Ends it: SIGTERM, then SIGKILL if it has not exited within two seconds. Returns its exit code.
  int Stop(int signal = 15);

 private:
  void Collect(int fd);
  int pid_ = -1;
  int input_ = -1;
  int status_ = -1;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<Line> lines_;
  size_t read_ = 0;
  bool closed_ = false;
};

// The pcscd drivers a virtual reader can sit behind: our own ("ifd", driver.cpp) or Debian's "vpcd".
inline const std::string kOurDriver = "ifd";

// A pcscd of our own in the foreground, reading reader definitions from its own directory.
class Pcscd {
 public:
  explicit Pcscd(std::string dir) : dir_(std::move(dir)) {}
  ~Pcscd() { Stop(); }
  // With a definition for the driver on the given port (readers "<kReaderName> 00 00" on the
  // port and "... 00 01" on the next), or none at all (port 0). Waits until pcscd answers and
  // lists the expected readers.
  std::string Start(int port, const std::string& driver = kOurDriver, const std::vector<std::string>& environment = {});
  void Stop();
  bool running() const { return child_ != nullptr; }
  const std::string& driver() const { return driver_; }
  Child* child() { return child_.get(); }

 private:
  std::string dir_, driver_;
  std::unique_ptr<Child> child_;
};

inline const std::string kReaderName = "Varnelo Virtual";
inline std::string ReaderName(int slot) { return kReaderName + (slot == 0 ? " 00 00" : " 00 01"); }

// A TCP port p with p and p + 1 both free on this machine.
int FreePortPair();

// Waits until pcscd reports the reader with (or without) a card. False after the timeout.
bool WaitCard(const std::string& reader, bool present, Millis timeout);
// The same for any of the reader's state bits (SCARD_STATE_UNAVAILABLE, ...).
bool WaitState(const std::string& reader, unsigned long bit, bool set, Millis timeout);

// The virtual reader program driven through its control channel.
class VirtualReader {
 public:
  VirtualReader(int port, const std::string& dialect, const std::string& card, const std::string& fault = "none",
                const std::string& driver = kOurDriver);
  // Sends one control line, returns its answer ("ok ..." or "error ...").
  std::string Do(const std::string& command);
  Child& child() { return child_; }

 private:
  Child child_;
};

// Paths of the programs under test, from the build (compile definitions) or the environment.
std::string VreaderPath();
std::string PeerPath();
std::string DriverPath();         // our pcscd driver, libifdvarnelo.so
std::string VarneloReaderPath();  // VARNELO_READER_TOOL, or empty when it names no program
std::string TempDir();            // a fresh directory for this process
