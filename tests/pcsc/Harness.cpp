#include "Harness.h"

#include <PCSC/winscard.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>

namespace {

struct Argv {
  explicit Argv(const std::vector<std::string>& args) {
    for (const std::string& a : args) pointers.push_back(const_cast<char*>(a.c_str()));
    pointers.push_back(nullptr);
  }
  std::vector<char*> pointers;
};

// Forks and execs; the child's stdin, stdout and stderr are the given descriptors (-1: /dev/null).
// Only async-signal-safe calls between fork and exec: other threads may hold locks.
int Spawn(const std::vector<std::string>& args, int in, int out, int err) {
  Argv argv(args);
  const pid_t pid = fork();
  if (pid != 0) return pid;
  const int null = open("/dev/null", O_RDWR);
  dup2(in >= 0 ? in : null, 0);
  dup2(out >= 0 ? out : null, 1);
  dup2(err >= 0 ? err : null, 2);
  for (int fd = 3; fd < 1024; ++fd) close(fd);
  execv(argv.pointers[0], argv.pointers.data());
  _exit(127);
}

int ExitCode(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

// Waits for the process at most the timeout; true when it has ended (status filled).
bool Reap(int pid, Millis timeout, int& status) {
  const Clock::time_point end = Clock::now() + timeout;
  // Short steps: a program whose output has ended is about to exit, and the benchmark times it.
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  return true;
}

int EndProcess(int pid, int signal) {
  int status = -1;
  kill(pid, signal);
  if (!Reap(pid, Millis(2000), status)) {
    kill(pid, SIGKILL);
    Reap(pid, Millis(5000), status);
  }
  return ExitCode(status);
}

bool PortFree(int port) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(s);
  return ok;
}

std::string ProgramPath(const char* variable, const char* built) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != 0 ? value : built;
}

}  // namespace

std::string EnterPrivateRunDir() {
  if (unshare(CLONE_NEWNS) != 0) return std::string("unshare(CLONE_NEWNS): ") + std::strerror(errno) + " (needs root)";
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return std::string("making / private: ") + std::strerror(errno);
  mkdir("/run/pcscd", 0755);
  if (mount("tmpfs", "/run/pcscd", "tmpfs", 0, "size=1m,mode=0755") != 0)
    return std::string("tmpfs on /run/pcscd: ") + std::strerror(errno);
  return "";
}

Finished RunProgram(const std::vector<std::string>& argv, Millis timeout) {
  int out[2], err[2];
  Finished f;
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return f;
  const int pid = Spawn(argv, -1, out[1], err[1]);
  close(out[1]);
  close(err[1]);
  const Clock::time_point end = Clock::now() + timeout;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&f.out, &f.err};
  int open = 2;
  while (open > 0) {
    const auto left = std::chrono::duration_cast<Millis>(end - Clock::now()).count();
    if (left <= 0) {
      f.timedOut = true;
      break;
    }
    poll(fds, 2, static_cast<int>(left));
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char chunk[4096];
      const ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
      if (n > 0) {
        sinks[i]->append(chunk, static_cast<size_t>(n));
      } else {
        fds[i].fd = -1;
        --open;
      }
    }
  }
  close(out[0]);
  close(err[0]);
  int status = -1;
  if (f.timedOut || !Reap(pid, Millis(2000), status)) {
    f.timedOut = true;
    EndProcess(pid, SIGKILL);
  } else {
    f.code = ExitCode(status);
  }
  return f;
}

Child::Child(const std::vector<std::string>& argv, const std::string& errorLog) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) return;
  if (pipe2(out, O_CLOEXEC) != 0) return;
  const int err = open(errorLog.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  pid_ = Spawn(argv, in[0], out[1], err);
  close(in[0]);
  close(out[1]);
  if (err >= 0) close(err);
  input_ = in[1];
  reader_ = std::thread(&Child::Collect, this, out[0]);
}

Child::~Child() { Stop(); }

void Child::Collect(int fd) {
  std::string pending;
  char chunk[1024];
  ssize_t n;
  while ((n = read(fd, chunk, sizeof chunk)) > 0) {
    const Clock::time_point at = Clock::now();
    pending.append(chunk, static_cast<size_t>(n));
    std::lock_guard lock(mutex_);
    for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1))
      lines_.push_back({at, pending.substr(0, end)});
    arrived_.notify_all();
  }
  close(fd);
  std::lock_guard lock(mutex_);
  closed_ = true;
  arrived_.notify_all();
}

void Child::Send(const std::string& line) {
  const std::string text = line + "\n";
  if (input_ >= 0 && write(input_, text.data(), text.size()) < 0) {
    close(input_);
    input_ = -1;
  }
}

std::optional<Child::Line> Child::Next(Millis timeout) {
  std::unique_lock lock(mutex_);
  if (!arrived_.wait_for(lock, timeout, [&] { return read_ < lines_.size() || closed_; })) return std::nullopt;
  if (read_ >= lines_.size()) return std::nullopt;
  return lines_[read_++];
}

int Child::Stop(int signal) {
  if (pid_ > 0) {
    if (input_ >= 0) close(input_);
    input_ = -1;
    status_ = EndProcess(pid_, signal);
    pid_ = -1;
  }
  if (reader_.joinable()) reader_.join();
  return status_;
}

std::string Pcscd::Start(int port, const std::string& driver, const std::vector<std::string>& environment) {
  Stop();
  driver_ = driver;
  mkdir(dir_.c_str(), 0755);
  const std::string conf = dir_ + "/reader.conf";
  std::remove(conf.c_str());
  if (port > 0 && driver == "vpcd") {
    std::ofstream(conf) << "FRIENDLYNAME \"" << kReaderName << "\"\nDEVICENAME /dev/null:" << port
                        << "\nLIBPATH /usr/lib/pcsc/drivers/serial/libifdvpcd.so\nCHANNELID " << port << "\n";
  } else if (port > 0) {
    std::ofstream(conf) << "FRIENDLYNAME \"" << kReaderName << "\"\nDEVICENAME 127.0.0.1:" << port << "\nLIBPATH "
                        << DriverPath() << "\nCHANNELID " << port << "\n";
  }
  // What a killed run may have left in our private /run/pcscd keeps a new pcscd from starting.
  std::remove("/run/pcscd/pcscd.comm");
  std::remove("/run/pcscd/pcscd.pid");
  std::vector<std::string> argv{"/usr/bin/env"};
  argv.insert(argv.end(), environment.begin(), environment.end());
  argv.insert(argv.end(), {"/usr/sbin/pcscd", "-f", "-c", dir_});
  child_ = std::make_unique<Child>(argv, dir_ + "/pcscd.log");
  // Ready when a client can list the readers we defined (or gets "no readers" without any).
  const Clock::time_point end = Clock::now() + Millis(10000);
  while (Clock::now() < end) {
    SCARDCONTEXT context;
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) == SCARD_S_SUCCESS) {
      char names[1024];
      DWORD size = sizeof names;
      const LONG rc = SCardListReaders(context, nullptr, names, &size);
      SCardReleaseContext(context);
      if (port == 0 ? rc == static_cast<LONG>(SCARD_E_NO_READERS_AVAILABLE) : rc == SCARD_S_SUCCESS) return "";
    }
    std::this_thread::sleep_for(Millis(20));
  }
  Stop();
  return "pcscd did not come up with its readers in 10 s, see " + dir_ + "/pcscd.log";
}

void Pcscd::Stop() {
  if (child_) child_->Stop();
  child_.reset();
}

int FreePortPair() {
  std::mt19937 random(static_cast<unsigned>(getpid() ^ Clock::now().time_since_epoch().count()));
  for (int attempt = 0; attempt < 200; ++attempt) {
    const int port = 20000 + static_cast<int>(random() % 30000);
    if (PortFree(port) && PortFree(port + 1)) return port;
  }
  return 0;
}

bool WaitCard(const std::string& reader, bool present, Millis timeout) {
  return WaitState(reader, SCARD_STATE_PRESENT, present, timeout);
}

bool WaitState(const std::string& reader, unsigned long bit, bool set, Millis timeout) {
  SCARDCONTEXT context;
  if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) != SCARD_S_SUCCESS) return false;
  SCARD_READERSTATE state{};
  state.szReader = reader.c_str();
  state.dwCurrentState = SCARD_STATE_UNAWARE;
  const Clock::time_point end = Clock::now() + timeout;
  bool reached = false;
  while (!reached) {
    const auto left = std::chrono::duration_cast<Millis>(end - Clock::now()).count();
    if (left <= 0) break;
    const LONG rc = SCardGetStatusChange(context, static_cast<DWORD>(left), &state, 1);
    if (rc != SCARD_S_SUCCESS && rc != static_cast<LONG>(SCARD_E_TIMEOUT)) break;
    state.dwCurrentState = state.dwEventState & ~SCARD_STATE_CHANGED;
    reached = ((state.dwEventState & bit) != 0) == set;
  }
  SCardReleaseContext(context);
  return reached;
}

VirtualReader::VirtualReader(int port, const std::string& dialect, const std::string& card, const std::string& fault,
                             const std::string& driver)
    : child_({VreaderPath(), "--port", std::to_string(port), "--driver", driver, "--dialect", dialect, "--card", card,
              "--fault", fault}) {}

std::string VirtualReader::Do(const std::string& command) {
  child_.Send(command);
  std::optional<Child::Line> answer = child_.Next(Millis(5000));
  return answer ? answer->text : "error: no answer from vreader";
}

std::string VreaderPath() { return ProgramPath("VARNELO_VREADER", VREADER_PATH); }
std::string PeerPath() { return ProgramPath("VARNELO_PCSC_PEER", PEER_PATH); }
std::string DriverPath() { return ProgramPath("VARNELO_IFD_DRIVER", DRIVER_PATH); }
std::string VarneloReaderPath() {
  const char* value = std::getenv("VARNELO_READER_TOOL");
  return value != nullptr && access(value, X_OK) == 0 ? value : "";
}

std::string TempDir() {
  static const std::string dir = [] {
    char name[] = "/tmp/varnelo-pcsc-XXXXXX";
    return std::string(mkdtemp(name) != nullptr ? name : "/tmp");
  }();
  return dir;
}
