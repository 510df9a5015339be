// vreader: a virtual contactless reader with a virtual FeliCa card, behind one of two pcscd drivers.
//
//   vreader --port PORT [--driver ifd|vpcd] [--host IPV4-ADDRESS] [--dialect NAME] [--card NAME] [--fault NAME]
//
// Connects to the driver at ADDRESS (default 127.0.0.1) on PORT (the reader's port in the
// definition); if it is not listening yet, or goes away, it retries every 50 ms.
//   ifd (default): our own driver (driver.cpp). The link stays up while vreader runs; placing and
//              removing a card are reported to the driver at once, and the control channel works.
//   vpcd:      Debian's vpcd. Connected only while a card is on the reader: the card arrives on
//              connect and leaves on disconnect; no control channel.
//   --dialect  transparent (default), pn53x, bare, ident, garbage, escape, escape-c2, escape-50,
//              pseudo, storage, storage-lists, idm-atr, inbox: see Dialects.cpp
//   --card     standard (default), other, no-common, no-number, empty-number, common-first, the
//              cards that are not FeliCa (mifare, iso14443a7, ...), or none: see VirtualCard.cpp
//   --fault    none (default), truncated, lying-length, wrong-code (each also as NAME@poll or
//              NAME@read: only those replies), other-idm, mute, vanish (block reads only), short-id,
//              escape-refused
// Standard input takes one command per line and answers each with one line, "ok ..." or "error ...":
//   place CARD | remove | replace CARD [GAP_MS] | dialect NAME | fault NAME
//   device gone|back (ifd: the driver reports "no such device" while listed, then recovers)
//   count (APDUs and escape commands since the last count) | log (those in hex, escape commands
//   as esc:HEX) | state | quit
// A dialect change takes effect at the next placement. At the end of input it keeps serving
// until it is killed.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <thread>

#include "Dialects.h"

namespace {

struct Reader {
  bool ifd = true;
  bool device = true;
  std::string host = "127.0.0.1";
  int port = 0;
  const Dialect* dialect = FindDialect("transparent");
  const Dialect* nextDialect = dialect;
  std::optional<VirtualCard> card = FindCard("standard");
  FaultSpec fault;
  int socket = -1;
  long count = 0;
  std::string log;
};

void Disconnect(Reader& r) {
  if (r.socket >= 0) close(r.socket);
  r.socket = -1;
}

bool Send(int s, const Bytes& payload);

// Tells our driver the card and device state; it wakes pcscd's polling thread.
void Report(Reader& r) {
  if (r.socket >= 0 && !Send(r.socket, {'E', r.card ? uint8_t{1} : uint8_t{0}, r.device ? uint8_t{1} : uint8_t{0}})) Disconnect(r);
}

void Connect(Reader& r) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(r.port));
  inet_pton(AF_INET, r.host.c_str(), &address.sin_addr);
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(s);
    return;
  }
  const int one = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  r.socket = s;
  if (!r.ifd) r.dialect = r.nextDialect;
  if (r.ifd) Report(r);
}

bool ReadFully(int s, uint8_t* data, size_t size) {
  while (size > 0) {
    // vpcd sends the length and the payload in two writes: without a quick ACK each APDU waits
    // for the delayed ACK timer. The kernel clears the flag after use, so set it before each read.
    const int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
    const ssize_t n = recv(s, data, size, 0);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool Send(int s, const Bytes& payload) {
  Bytes message{static_cast<uint8_t>(payload.size() >> 8), static_cast<uint8_t>(payload.size())};
  message.insert(message.end(), payload.begin(), payload.end());
  return send(s, message.data(), message.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(message.size());
}

void Logged(Reader& r, const std::string& entry) {
  ++r.count;
  r.log += (r.log.empty() ? "" : " ") + entry;
}

// One question from our driver (driver.cpp): 'A' power on, 'O' power off, 'T' APDU, 'C' control
// code and data. The answer's first byte: 0 done, 1 no card, 2 refused, 3 no such device.
Bytes Answer(Reader& r, const Bytes& q) {
  if (!r.device) return {3};
  if (q[0] == 'O') return {0};
  if (q[0] == 'C' && q.size() >= 5) {
    const uint32_t code = static_cast<uint32_t>(q[1] << 24 | q[2] << 16 | q[3] << 8 | q[4]);
    const Bytes data(q.begin() + 5, q.end());
    ControlReply reply = Control(*r.dialect, r.card ? &*r.card : nullptr, r.fault, code, data);
    if (reply.refused) return {2};
    if (code == kEscapeCode) Logged(r, "esc:" + Hex(data));
    if (reply.vanished) {
      r.card.reset();
      Report(r);
    }
    reply.data.insert(reply.data.begin(), 0);
    return reply.data;
  }
  if (!r.card) return {1};
  if (q[0] == 'A') {
    Bytes atr = Atr(*r.dialect, *r.card);
    atr.insert(atr.begin(), 0);
    return atr;
  }
  if (q[0] != 'T') return {2};
  const Bytes apdu(q.begin() + 1, q.end());
  Logged(r, Hex(apdu));
  std::optional<Bytes> response = Respond(*r.dialect, *r.card, r.fault, apdu);
  if (!response) {  // the card left in the middle of the command
    r.card.reset();
    Report(r);
    return {1};
  }
  response->insert(response->begin(), 0);
  return *response;
}

// One message from the driver. From vpcd: a control code (0 off, 1 on, 2 reset, 4 ATR) or a command APDU.
void Serve(Reader& r) {
  uint8_t head[2];
  Bytes payload;
  bool ok = ReadFully(r.socket, head, 2);
  if (ok) {
    payload.resize(static_cast<size_t>(head[0] << 8 | head[1]));
    ok = ReadFully(r.socket, payload.data(), payload.size());
  }
  if (!ok) return Disconnect(r);  // the driver went away: reconnect while the card stays placed
  if (r.ifd) {
    if (!payload.empty() && !Send(r.socket, Answer(r, payload))) Disconnect(r);
    return;
  }
  if (payload.size() == 1) {
    if (payload[0] == 4 && r.card && !Send(r.socket, Atr(*r.dialect, *r.card))) Disconnect(r);
    return;
  }
  Logged(r, Hex(payload));
  std::optional<Bytes> response = Respond(*r.dialect, *r.card, r.fault, payload);
  if (!response) {
    // The card left in the middle of the command: vpcd gives the client an empty answer, and
    // pcscd finds no card at its next look.
    r.card.reset();
    return Disconnect(r);
  }
  if (!Send(r.socket, *response)) Disconnect(r);
}

std::string Place(Reader& r, const std::string& name) {
  std::optional<VirtualCard> card = FindCard(name);
  if (!card) return "error no card named " + name;
  if (!r.ifd) Disconnect(r);
  r.card = card;
  if (r.ifd) {
    r.dialect = r.nextDialect;
    Report(r);
  }
  return "ok";
}

void Remove(Reader& r) {
  r.card.reset();
  if (r.ifd) Report(r);
  else Disconnect(r);
}

std::string Command(Reader& r, const std::string& line, bool& quit) {
  std::istringstream in(line);
  std::string verb, arg;
  in >> verb >> arg;
  if (verb == "place") return Place(r, arg);
  if (verb == "remove") {
    Remove(r);
    return "ok";
  }
  if (verb == "replace") {
    int gap = 600;
    in >> gap;
    Remove(r);
    std::this_thread::sleep_for(std::chrono::milliseconds(gap));
    return Place(r, arg);
  }
  if (verb == "dialect") {
    const Dialect* d = FindDialect(arg);
    if (d == nullptr) return "error dialects: " + DialectNames();
    r.nextDialect = d;
    return "ok";
  }
  if (verb == "fault") {
    std::optional<FaultSpec> f = FindFault(arg);
    if (!f) return "error faults: " + FaultNames();
    r.fault = *f;
    return "ok";
  }
  if (verb == "count") {
    const long n = r.count;
    r.count = 0;
    return "ok apdus=" + std::to_string(n);
  }
  if (verb == "log") {
    std::string log = "ok " + r.log;
    r.log.clear();
    return log;
  }
  if (verb == "device" && r.ifd && (arg == "gone" || arg == "back")) {
    r.device = arg == "back";
    Report(r);
    return "ok";
  }
  if (verb == "state")
    return std::string("ok ") + (r.card ? "placed " : "removed ") + (r.socket >= 0 ? "connected" : "waiting");
  if (verb == "quit") {
    quit = true;
    return "ok";
  }
  return "error unknown command: " + line;
}

int Usage(const std::string& why) {
  std::fprintf(stderr, "vreader: %s\nusage: vreader --port PORT [--driver ifd|vpcd] [--host ADDRESS] [--dialect %s] [--card NAME|none] [--fault %s]\n",
               why.c_str(), DialectNames().c_str(), FaultNames().c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Reader r;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (i + 1 >= argc) return Usage("missing value for " + option);
    const std::string value = argv[++i];
    if (option == "--port") {
      r.port = std::atoi(value.c_str());
    } else if (option == "--driver") {
      if (value != "ifd" && value != "vpcd") return Usage("unknown driver " + value);
      r.ifd = value == "ifd";
    } else if (option == "--host") {
      r.host = value;
    } else if (option == "--dialect") {
      r.dialect = r.nextDialect = FindDialect(value);
      if (r.dialect == nullptr) return Usage("unknown dialect " + value);
    } else if (option == "--card") {
      r.card = FindCard(value);
      if (!r.card && value != "none") return Usage("unknown card " + value);
    } else if (option == "--fault") {
      std::optional<FaultSpec> f = FindFault(value);
      if (!f) return Usage("unknown fault " + value);
      r.fault = *f;
    } else {
      return Usage("unknown option " + option);
    }
  }
  if (r.port <= 0 || r.port > 65535) return Usage("--port is required");
  std::signal(SIGPIPE, SIG_IGN);

  bool input = true, quit = false;
  std::string pending;
  while (!quit) {
    const bool wanted = r.ifd || r.card;
    if (wanted && r.socket < 0) Connect(r);
    pollfd fds[2] = {{input ? 0 : -1, POLLIN, 0}, {r.socket, POLLIN, 0}};
    poll(fds, 2, wanted && r.socket < 0 ? 50 : 1000);
    if (fds[1].revents != 0 && r.socket >= 0) Serve(r);
    if (fds[0].revents == 0) continue;
    char chunk[512];
    const ssize_t n = read(0, chunk, sizeof chunk);
    if (n <= 0) {
      input = false;
      continue;
    }
    pending.append(chunk, static_cast<size_t>(n));
    for (size_t end; !quit && (end = pending.find('\n')) != std::string::npos;) {
      const std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      std::printf("%s\n", Command(r, line, quit).c_str());
      std::fflush(stdout);
    }
  }
  Disconnect(r);
  return 0;
}
