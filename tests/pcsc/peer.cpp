// pcsc-peer: a plain PC/SC client that the tests and the benchmark run beside the program under test.
//   pcsc-peer hold READER          connects exclusively, prints "held", keeps the reader until stdin ends
//   pcsc-peer watch READER         a bare SCardGetStatusChange waiter: prints "present" / "empty" on each change
//   pcsc-peer send READER APDU...  connects shared, prints each response APDU in hex, one per line
//   pcsc-peer atr READER           connects shared, prints the card's ATR in hex
//   pcsc-peer control READER CODE DATA...  connects direct (no protocol, with or without a card),
//                                  sends each DATA (hex, "-" for none) with the control code (hex),
//                                  prints each reply in hex or "error 0x..." and goes on
// READER is a substring of the reader's name. Exit code 0, or 1 with the PC/SC error on stderr.
#include <PCSC/winscard.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "VirtualCard.h"

namespace {

int Fail(const char* what, LONG rc) {
  std::fprintf(stderr, "pcsc-peer: %s: %s (0x%08lX)\n", what, pcsc_stringify_error(rc), static_cast<unsigned long>(rc));
  return 1;
}

// The first reader whose name contains the substring.
LONG FindReader(SCARDCONTEXT context, const std::string& part, std::string& name) {
  char names[4096];
  DWORD size = sizeof names;
  const LONG rc = SCardListReaders(context, nullptr, names, &size);
  if (rc != SCARD_S_SUCCESS) return rc;
  for (const char* n = names; *n != 0; n += std::strlen(n) + 1) {
    if (std::strstr(n, part.c_str()) != nullptr) {
      name = n;
      return SCARD_S_SUCCESS;
    }
  }
  return SCARD_E_UNKNOWN_READER;
}

LONG Connect(SCARDCONTEXT context, const std::string& reader, DWORD share, SCARDHANDLE& card, DWORD& protocol) {
  return SCardConnect(context, reader.c_str(), share, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol);
}

int Hold(SCARDCONTEXT context, const std::string& reader) {
  SCARDHANDLE card;
  DWORD protocol;
  const LONG rc = Connect(context, reader, SCARD_SHARE_EXCLUSIVE, card, protocol);
  if (rc != SCARD_S_SUCCESS) return Fail("SCardConnect", rc);
  std::printf("held\n");
  std::fflush(stdout);
  char sink[64];
  while (read(0, sink, sizeof sink) > 0) {
  }
  SCardDisconnect(card, SCARD_LEAVE_CARD);
  return 0;
}

int Watch(SCARDCONTEXT context, const std::string& reader) {
  SCARD_READERSTATE state{};
  state.szReader = reader.c_str();
  state.dwCurrentState = SCARD_STATE_UNAWARE;
  bool first = true, present = false;
  for (;;) {
    const LONG rc = SCardGetStatusChange(context, 60000, &state, 1);
    if (rc == static_cast<LONG>(SCARD_E_TIMEOUT)) continue;
    if (rc != SCARD_S_SUCCESS) return Fail("SCardGetStatusChange", rc);
    const bool now = (state.dwEventState & SCARD_STATE_PRESENT) != 0;
    // The card event count (high 16 bits) tells a card replaced between two looks.
    const bool replaced = !first && now && present && (state.dwEventState >> 16) != (state.dwCurrentState >> 16);
    if (replaced) std::printf("empty\n");
    if (first || now != present || replaced) std::printf("%s\n", now ? "present" : "empty");
    std::fflush(stdout);
    first = false;
    present = now;
    state.dwCurrentState = state.dwEventState & ~SCARD_STATE_CHANGED;
  }
}

int Atr(SCARDCONTEXT context, const std::string& reader) {
  SCARDHANDLE card;
  DWORD protocol, state, nameSize = 0, size = MAX_ATR_SIZE;
  LONG rc = Connect(context, reader, SCARD_SHARE_SHARED, card, protocol);
  if (rc != SCARD_S_SUCCESS) return Fail("SCardConnect", rc);
  unsigned char atr[MAX_ATR_SIZE];
  rc = SCardStatus(card, nullptr, &nameSize, &state, &protocol, atr, &size);
  if (rc == SCARD_S_SUCCESS) std::printf("%s\n", Hex(Bytes(atr, atr + size)).c_str());
  SCardDisconnect(card, SCARD_LEAVE_CARD);
  return rc == SCARD_S_SUCCESS ? 0 : Fail("SCardStatus", rc);
}

int Send(SCARDCONTEXT context, const std::string& reader, char** apdus, int count) {
  SCARDHANDLE card;
  DWORD protocol;
  LONG rc = Connect(context, reader, SCARD_SHARE_SHARED, card, protocol);
  if (rc != SCARD_S_SUCCESS) return Fail("SCardConnect", rc);
  const SCARD_IO_REQUEST* pci = protocol == SCARD_PROTOCOL_T0 ? SCARD_PCI_T0 : SCARD_PCI_T1;
  for (int i = 0; i < count && rc == SCARD_S_SUCCESS; ++i) {
    const Bytes apdu = ParseHex(apdus[i]);
    unsigned char response[512];
    DWORD size = sizeof response;
    rc = SCardTransmit(card, pci, apdu.data(), apdu.size(), nullptr, response, &size);
    if (rc == SCARD_S_SUCCESS) std::printf("%s\n", Hex(Bytes(response, response + size)).c_str());
  }
  SCardDisconnect(card, SCARD_LEAVE_CARD);
  return rc == SCARD_S_SUCCESS ? 0 : Fail("SCardTransmit", rc);
}

int Control(SCARDCONTEXT context, const std::string& reader, char** args, int count) {
  SCARDHANDLE card;
  DWORD protocol;
  const LONG rc = SCardConnect(context, reader.c_str(), SCARD_SHARE_DIRECT, 0, &card, &protocol);
  if (rc != SCARD_S_SUCCESS) return Fail("SCardConnect", rc);
  const DWORD code = count > 0 ? static_cast<DWORD>(std::strtoul(args[0], nullptr, 16)) : 0;
  for (int i = 1; i < count; ++i) {
    const Bytes data = std::string(args[i]) == "-" ? Bytes{} : ParseHex(args[i]);
    unsigned char reply[1024];
    DWORD size = 0;
    const LONG sent = SCardControl(card, code, data.data(), data.size(), reply, sizeof reply, &size);
    if (sent == SCARD_S_SUCCESS) std::printf("%s\n", Hex(Bytes(reply, reply + size)).c_str());
    else std::printf("error 0x%08lX\n", static_cast<unsigned long>(sent));
  }
  SCardDisconnect(card, SCARD_LEAVE_CARD);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: pcsc-peer hold|watch|send|atr|control READER [APDU...]\n");
    return 2;
  }
  const std::string verb = argv[1];
  SCARDCONTEXT context;
  LONG rc = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context);
  if (rc != SCARD_S_SUCCESS) return Fail("SCardEstablishContext", rc);
  std::string reader;
  rc = FindReader(context, argv[2], reader);
  int code = rc != SCARD_S_SUCCESS ? Fail("SCardListReaders", rc)
             : verb == "hold"      ? Hold(context, reader)
             : verb == "watch"     ? Watch(context, reader)
             : verb == "send"      ? Send(context, reader, argv + 3, argc - 3)
             : verb == "atr"       ? Atr(context, reader)
             : verb == "control"   ? Control(context, reader, argv + 3, argc - 3)
                                   : 2;
  SCardReleaseContext(context);
  return code;
}
