// libifdvarnelo: a pcscd reader driver (IFD handler, API v3) whose reader is the virtual reader
// program. Each definition gives two slots, "... 00 00" on the TCP port at the end of DEVICENAME
// (or CHANNELID) and "... 00 01" on the next; the driver listens on 127.0.0.1 there and vreader
// connects. Messages both ways are a 2-byte big-endian length and a payload: the driver asks
// ('A' power on/ATR, 'O' power off, 'T' APDU, 'C' 4-byte control code and data), vreader
// answers with a status byte (Link below) and data, and reports every change of card or device
// with 'E' <card> <device> unasked. pcscd's polling thread blocks on those reports, so a card
// placed or taken away reaches pcscd at once.
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

extern "C" {
#include <ifdhandler.h>
}

namespace {

using Bytes = std::vector<uint8_t>;

enum Link : uint8_t { kOk = 0, kNoCard = 1, kRefused = 2, kNoDevice = 3, kNoReader = 0xFF };

constexpr int kAnswerMs = 5000;
constexpr DWORD kSlots = 2;

struct Slot {
  std::mutex mutex;
  int listener = -1, link = -1, wake = -1;
  Bytes pending;  // received bytes not yet a whole message
  bool card = false, device = true;
  bool toldCard = false, toldDevice = true;  // what pcscd last heard from IFDHICCPresence
  Bytes atr;
};

std::mutex slotsMutex;
std::map<DWORD, std::unique_ptr<Slot>> slots;

Slot* Find(DWORD lun) {
  std::lock_guard lock(slotsMutex);
  auto it = slots.find(lun);
  return it == slots.end() ? nullptr : it->second.get();
}

void CloseLink(Slot& s) {
  if (s.link >= 0) close(s.link);
  s.link = -1;
  s.pending.clear();
  s.card = false;
  s.device = true;  // no virtual reader behind it: a reader without a card
}

// Takes whole messages off the front of `pending`; events are applied at once.
bool NextAnswer(Slot& s, Bytes& answer) {
  while (s.pending.size() >= 2) {
    const size_t size = static_cast<size_t>(s.pending[0] << 8 | s.pending[1]);
    if (s.pending.size() < 2 + size) return false;
    Bytes message(s.pending.begin() + 2, s.pending.begin() + 2 + static_cast<long>(size));
    s.pending.erase(s.pending.begin(), s.pending.begin() + 2 + static_cast<long>(size));
    if (message.size() == 3 && message[0] == 'E') {
      s.card = message[1] != 0;
      s.device = message[2] != 0;
    } else if (!message.empty()) {
      answer = std::move(message);
      return true;
    }
  }
  return false;
}

// Reads what has arrived without waiting: a new virtual reader, events, or the link's end.
void Drain(Slot& s) {
  const int fresh = accept4(s.listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fresh >= 0) {
    CloseLink(s);  // a restarted virtual reader replaces the old one
    s.link = fresh;
  }
  for (uint8_t chunk[4096]; s.link >= 0;) {
    const ssize_t n = recv(s.link, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n > 0) {
      s.pending.insert(s.pending.end(), chunk, chunk + n);
    } else {
      if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) CloseLink(s);
      break;
    }
  }
  Bytes stray;  // an answer that came after its question gave up
  while (NextAnswer(s, stray)) {
  }
}

Bytes Exchange(Slot& s, uint8_t kind, const Bytes& data) {
  Drain(s);
  if (s.link < 0) return {kNoReader};
  Bytes message{static_cast<uint8_t>((data.size() + 1) >> 8), static_cast<uint8_t>(data.size() + 1), kind};
  message.insert(message.end(), data.begin(), data.end());
  if (send(s.link, message.data(), message.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(message.size())) {
    CloseLink(s);
    return {kNoReader};
  }
  Bytes answer;
  while (!NextAnswer(s, answer)) {
    pollfd p{s.link, POLLIN, 0};
    uint8_t chunk[4096];
    const ssize_t n = poll(&p, 1, kAnswerMs) == 1 ? recv(s.link, chunk, sizeof chunk, MSG_DONTWAIT) : 0;
    if (n <= 0 && !(n < 0 && errno == EAGAIN)) {
      CloseLink(s);
      return {kNoReader};
    }
    if (n > 0) s.pending.insert(s.pending.end(), chunk, chunk + n);
  }
  return answer;
}

// One question and its answer; the answer's first byte is its Link status.
bool Untold(const Slot& s) { return s.card != s.toldCard || s.device != s.toldDevice; }

Bytes Ask(Slot& s, uint8_t kind, const Bytes& data) {
  Bytes answer = Exchange(s, kind, data);
  // A report read here no longer wakes pcscd's polling thread through the socket.
  const uint64_t one = 1;
  if (Untold(s) && write(s.wake, &one, sizeof one) < 0) return {kNoReader};
  return answer;
}

RESPONSECODE Code(uint8_t status) {
  switch (status) {
    case kOk: return IFD_SUCCESS;
    case kNoCard: return IFD_ICC_NOT_PRESENT;
    case kRefused: return IFD_ERROR_NOT_SUPPORTED;
    case kNoDevice: return IFD_NO_SUCH_DEVICE;
    default: return IFD_COMMUNICATION_ERROR;
  }
}

int Listen(int port) {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  const int one = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 4) != 0) {
    close(s);
    return -1;
  }
  return s;
}

// pcscd opens each slot with the definition's name: slot n listens on the port + n.
RESPONSECODE Open(DWORD lun, long port) {
  port += static_cast<long>(lun & 0xFFFF);
  if (port <= 0 || port > 65535 || (lun & 0xFFFF) >= kSlots) return IFD_COMMUNICATION_ERROR;
  auto s = std::make_unique<Slot>();
  s->listener = Listen(static_cast<int>(port));
  s->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (s->listener < 0 || s->wake < 0) {
    if (s->listener >= 0) close(s->listener);
    if (s->wake >= 0) close(s->wake);
    return IFD_COMMUNICATION_ERROR;
  }
  std::lock_guard lock(slotsMutex);
  slots[lun] = std::move(s);
  return IFD_SUCCESS;
}

// pcscd's polling thread: returns when the virtual reader reports, connects or goes, when the
// stop function wakes it (pcscd does that on every SCardDisconnect, then calls again), or after
// the timeout.
RESPONSECODE WaitForChange(DWORD lun, int timeoutMs) {
  Slot* s = Find(lun);
  if (s == nullptr) return IFD_COMMUNICATION_ERROR;
  int link;
  {
    std::lock_guard lock(s->mutex);
    if (Untold(*s)) return IFD_SUCCESS;
    link = s->link;
  }
  pollfd p[3] = {{s->listener, POLLIN, 0}, {link, POLLIN, 0}, {s->wake, POLLIN, 0}};
  poll(p, 3, timeoutMs);
  uint64_t count;
  if (read(s->wake, &count, sizeof count) < 0) {
  }
  std::lock_guard lock(s->mutex);
  Drain(*s);
  return IFD_SUCCESS;
}

RESPONSECODE WakeWaiter(DWORD lun) {
  Slot* s = Find(lun);
  const uint64_t one = 1;
  return s != nullptr && write(s->wake, &one, sizeof one) == sizeof one ? IFD_SUCCESS : IFD_COMMUNICATION_ERROR;
}

}  // namespace

extern "C" {

RESPONSECODE IFDHCreateChannelByName(DWORD Lun, LPSTR DeviceName) {
  // The port is the number the name ends with: "127.0.0.1:40001", or a hot-plugged device's
  // node such as "usb:...:/dev/varnelo/40001".
  const std::string name = DeviceName != nullptr ? DeviceName : "";
  const size_t digits = name.find_last_not_of("0123456789");
  const std::string tail = digits == std::string::npos ? name : name.substr(digits + 1);
  return Open(Lun, tail.empty() || tail.size() > 5 ? -1 : std::stol(tail));
}

RESPONSECODE IFDHCreateChannel(DWORD Lun, DWORD Channel) { return Open(Lun, static_cast<long>(Channel)); }

RESPONSECODE IFDHCloseChannel(DWORD Lun) {
  std::lock_guard lock(slotsMutex);
  auto it = slots.find(Lun);
  if (it == slots.end()) return IFD_SUCCESS;
  CloseLink(*it->second);
  close(it->second->listener);
  close(it->second->wake);
  slots.erase(it);
  return IFD_SUCCESS;
}

RESPONSECODE IFDHGetCapabilities(DWORD Lun, DWORD Tag, PDWORD Length, PUCHAR Value) {
  Slot* s = Find(Lun);
  if (s == nullptr) return IFD_COMMUNICATION_ERROR;
  const auto put = [&](const void* data, DWORD size) {
    if (*Length < size) return IFD_ERROR_INSUFFICIENT_BUFFER;
    std::memcpy(Value, data, size);
    *Length = size;
    return IFD_SUCCESS;
  };
  const auto byte = [&](UCHAR v) { return put(&v, 1); };
  const auto function = [&](RESPONSECODE (*f)(DWORD, int)) { return put(&f, sizeof f); };
  switch (Tag) {
    case TAG_IFD_ATR: {
      std::lock_guard lock(s->mutex);
      return put(s->atr.data(), static_cast<DWORD>(s->atr.size()));
    }
    case TAG_IFD_SIMULTANEOUS_ACCESS: return byte(16);
    case TAG_IFD_THREAD_SAFE: return byte(1);
    case TAG_IFD_SLOT_THREAD_SAFE: return byte(1);
    case TAG_IFD_SLOTS_NUMBER: return byte(kSlots);
    case TAG_IFD_POLLING_THREAD_KILLABLE: return byte(0);
    case TAG_IFD_POLLING_THREAD_WITH_TIMEOUT: return function(WaitForChange);
    case TAG_IFD_STOP_POLLING_THREAD: {
      RESPONSECODE (*f)(DWORD) = WakeWaiter;
      return put(&f, sizeof f);
    }
    default: return IFD_ERROR_TAG;
  }
}

RESPONSECODE IFDHSetCapabilities(DWORD, DWORD, DWORD, PUCHAR) { return IFD_NOT_SUPPORTED; }

RESPONSECODE IFDHSetProtocolParameters(DWORD, DWORD, UCHAR, UCHAR, UCHAR, UCHAR) { return IFD_SUCCESS; }

RESPONSECODE IFDHPowerICC(DWORD Lun, DWORD Action, PUCHAR Atr, PDWORD AtrLength) {
  Slot* s = Find(Lun);
  const DWORD room = AtrLength != nullptr ? *AtrLength : 0;
  if (AtrLength != nullptr) *AtrLength = 0;
  if (s == nullptr) return IFD_COMMUNICATION_ERROR;
  std::lock_guard lock(s->mutex);
  if (Action == IFD_POWER_DOWN) {
    s->atr.clear();
    return Code(Ask(*s, 'O', {})[0]);
  }
  if (Action != IFD_POWER_UP && Action != IFD_RESET) return IFD_NOT_SUPPORTED;
  const Bytes answer = Ask(*s, 'A', {});
  if (answer[0] != kOk) return answer[0] == kNoCard ? IFD_ERROR_POWER_ACTION : Code(answer[0]);
  s->atr.assign(answer.begin() + 1, answer.end());
  if (s->atr.size() > room || s->atr.size() > MAX_ATR_SIZE) return IFD_ERROR_POWER_ACTION;
  std::memcpy(Atr, s->atr.data(), s->atr.size());
  *AtrLength = static_cast<DWORD>(s->atr.size());
  return IFD_SUCCESS;
}

RESPONSECODE IFDHTransmitToICC(DWORD Lun, SCARD_IO_HEADER SendPci, PUCHAR TxBuffer, DWORD TxLength, PUCHAR RxBuffer,
                               PDWORD RxLength, PSCARD_IO_HEADER RecvPci) {
  Slot* s = Find(Lun);
  const DWORD room = *RxLength;
  *RxLength = 0;
  if (s == nullptr) return IFD_COMMUNICATION_ERROR;
  std::lock_guard lock(s->mutex);
  const Bytes answer = Ask(*s, 'T', Bytes(TxBuffer, TxBuffer + TxLength));
  if (answer[0] != kOk) return Code(answer[0]);
  if (answer.size() - 1 > room) return IFD_ERROR_INSUFFICIENT_BUFFER;
  std::memcpy(RxBuffer, answer.data() + 1, answer.size() - 1);
  *RxLength = static_cast<DWORD>(answer.size() - 1);
  if (RecvPci != nullptr) RecvPci->Protocol = SendPci.Protocol;
  return IFD_SUCCESS;
}

RESPONSECODE IFDHControl(DWORD Lun, DWORD dwControlCode, PUCHAR TxBuffer, DWORD TxLength, PUCHAR RxBuffer,
                         DWORD RxLength, LPDWORD pdwBytesReturned) {
  Slot* s = Find(Lun);
  if (pdwBytesReturned != nullptr) *pdwBytesReturned = 0;
  if (s == nullptr || pdwBytesReturned == nullptr) return IFD_COMMUNICATION_ERROR;
  Bytes request{static_cast<uint8_t>(dwControlCode >> 24), static_cast<uint8_t>(dwControlCode >> 16),
                static_cast<uint8_t>(dwControlCode >> 8), static_cast<uint8_t>(dwControlCode)};
  if (TxBuffer != nullptr) request.insert(request.end(), TxBuffer, TxBuffer + TxLength);
  std::lock_guard lock(s->mutex);
  const Bytes answer = Ask(*s, 'C', request);
  if (answer[0] != kOk) return Code(answer[0]);
  if (answer.size() - 1 > RxLength) return IFD_ERROR_INSUFFICIENT_BUFFER;
  std::memcpy(RxBuffer, answer.data() + 1, answer.size() - 1);
  *pdwBytesReturned = static_cast<DWORD>(answer.size() - 1);
  return IFD_SUCCESS;
}

RESPONSECODE IFDHICCPresence(DWORD Lun) {
  Slot* s = Find(Lun);
  if (s == nullptr) return IFD_COMMUNICATION_ERROR;
  std::lock_guard lock(s->mutex);
  Drain(*s);
  s->toldCard = s->card;
  s->toldDevice = s->device;
  return !s->device ? IFD_NO_SUCH_DEVICE : s->card ? IFD_ICC_PRESENT : IFD_ICC_NOT_PRESENT;
}

}  // extern "C"
