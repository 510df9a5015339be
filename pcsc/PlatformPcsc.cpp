// The PC/SC table over the platform's own library: winscard.dll on Windows, pcsc-lite elsewhere.
// Only this file sees their types; the two differ in the width of their integers.
#ifdef _WIN32
#include <windows.h>
#include <winscard.h>
#else
#include <PCSC/winscard.h>
#include <PCSC/wintypes.h>
// pcsc-lite has only the single-byte variants, under the plain names.
#define SCardListReadersA SCardListReaders
#define SCardGetStatusChangeA SCardGetStatusChange
#define SCardConnectA SCardConnect
#define SCardStatusA SCardStatus
using SCARD_READERSTATEA = SCARD_READERSTATE;
#endif

#include <algorithm>
#include <cstring>

#include "Pcsc.h"

namespace pcsc {
namespace {

uint32_t Establish(Context* context) {
  SCARDCONTEXT handle = 0;
  const auto rc = static_cast<uint32_t>(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &handle));
  *context = static_cast<Context>(handle);
  return rc;
}

uint32_t Release(Context context) {
  return static_cast<uint32_t>(SCardReleaseContext(static_cast<SCARDCONTEXT>(context)));
}

// Wine 10's SCardListReadersA asks pcsc-lite for the length through a 64-bit variable of its own
// stack frame that it never sets; where earlier calls left all ones there, pcsc-lite reads it as
// "allocate for me" and fails the valid call with SCARD_E_INVALID_PARAMETER. Zeroing the stack
// the call is about to use makes that variable 0.
[[gnu::noinline]] void ZeroStackBelow() {
  volatile uint8_t area[2048];
  for (auto& byte : area)
    byte = 0;
}

uint32_t List(Context context, std::vector<std::string>* readers) {
  // A buffer that holds the usual few readers first, so one call does; a longer list is asked for
  // its length, and as it can grow between the two calls, a few tries, then give up.
  DWORD length = 1024;
  for (int attempt = 0; attempt < 4; ++attempt) {
    if (attempt > 0) {
      length = 0;
      ZeroStackBelow();
      const auto rc = static_cast<uint32_t>(SCardListReadersA(static_cast<SCARDCONTEXT>(context), nullptr, nullptr, &length));
      if (rc != kSuccess)
        return rc;
    }
    std::vector<char> names(length + 1, '\0');
    ZeroStackBelow();
    const auto rc = static_cast<uint32_t>(SCardListReadersA(static_cast<SCARDCONTEXT>(context), nullptr, names.data(), &length));
    if (rc == kInsufficientBuffer)
      continue;
    if (rc != kSuccess)
      return rc;
    readers->clear();
    for (const char* name = names.data(); name < names.data() + names.size() && *name; name += std::strlen(name) + 1)
      readers->emplace_back(name);
    return kSuccess;
  }
  return kInsufficientBuffer;
}

uint32_t StatusChange(Context context, uint32_t timeoutMs, ReaderState* states, size_t count) {
  std::vector<SCARD_READERSTATEA> native(count);
  for (size_t i = 0; i < count; ++i) {
    native[i] = {};
    native[i].szReader = states[i].reader.c_str();
    native[i].dwCurrentState = states[i].currentState;
  }
  const auto rc = static_cast<uint32_t>(SCardGetStatusChangeA(static_cast<SCARDCONTEXT>(context), timeoutMs,
                                                              native.data(), static_cast<DWORD>(count)));
  for (size_t i = 0; i < count; ++i) {
    states[i].eventState = static_cast<uint32_t>(native[i].dwEventState);
    const size_t atrLength = std::min<size_t>(native[i].cbAtr, sizeof native[i].rgbAtr);
    states[i].atr.assign(native[i].rgbAtr, native[i].rgbAtr + atrLength);
  }
  return rc;
}

uint32_t Cancel(Context context) { return static_cast<uint32_t>(SCardCancel(static_cast<SCARDCONTEXT>(context))); }

uint32_t Connect(Context context, const char* reader, Card* card, uint32_t* protocol) {
  SCARDHANDLE handle = 0;
  DWORD active = 0;
  const auto rc = static_cast<uint32_t>(SCardConnectA(static_cast<SCARDCONTEXT>(context), reader, SCARD_SHARE_SHARED,
                                                      SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &handle, &active));
  *card = static_cast<Card>(handle);
  *protocol = static_cast<uint32_t>(active);
  return rc;
}

uint32_t Disconnect(Card card) {
  return static_cast<uint32_t>(SCardDisconnect(static_cast<SCARDHANDLE>(card), SCARD_LEAVE_CARD));
}

uint32_t Status(Card card, std::vector<uint8_t>* atr) {
  // Every output given: not every implementation accepts a null one.
  char name[256];
  BYTE bytes[64];
  DWORD nameLength = sizeof name, length = sizeof bytes, state = 0, protocol = 0;
  const auto rc = static_cast<uint32_t>(
      SCardStatusA(static_cast<SCARDHANDLE>(card), name, &nameLength, &state, &protocol, bytes, &length));
  atr->assign(bytes, bytes + (rc == kSuccess ? std::min<size_t>(length, sizeof bytes) : 0));
  return rc;
}

uint32_t Transmit(Card card, uint32_t protocol, const uint8_t* send, size_t sendLength, uint8_t* receive,
                  size_t* receiveLength) {
  const SCARD_IO_REQUEST* pci = protocol == SCARD_PROTOCOL_T0 ? SCARD_PCI_T0 : SCARD_PCI_T1;
  DWORD length = static_cast<DWORD>(*receiveLength);
  const auto rc = static_cast<uint32_t>(SCardTransmit(static_cast<SCARDHANDLE>(card), pci, send,
                                                      static_cast<DWORD>(sendLength), nullptr, receive, &length));
  *receiveLength = rc == kSuccess ? std::min<size_t>(length, *receiveLength) : 0;
  return rc;
}

uint32_t ConnectDirect(Context context, const char* reader, Card* card) {
  SCARDHANDLE handle = 0;
  DWORD active = 0;
  const auto rc = static_cast<uint32_t>(
      SCardConnectA(static_cast<SCARDCONTEXT>(context), reader, SCARD_SHARE_DIRECT, 0, &handle, &active));
  *card = static_cast<Card>(handle);
  return rc;
}

uint32_t Control(Card card, uint32_t code, const uint8_t* send, size_t sendLength, uint8_t* receive,
                 size_t* receiveLength) {
  DWORD length = 0;
  const auto rc = static_cast<uint32_t>(SCardControl(static_cast<SCARDHANDLE>(card), code, send,
                                                     static_cast<DWORD>(sendLength), receive,
                                                     static_cast<DWORD>(*receiveLength), &length));
  *receiveLength = rc == kSuccess ? std::min<size_t>(length, *receiveLength) : 0;
  return rc;
}

constexpr Table kPlatform{Establish, Release, List,      StatusChange,  Cancel, Connect,
                          Disconnect, Status, Transmit, ConnectDirect, Control};

} // namespace

const Table& PlatformTable() { return kPlatform; }

} // namespace pcsc
