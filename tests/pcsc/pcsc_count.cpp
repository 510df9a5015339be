// libpcsc-count.so: counts a program's PC/SC calls, each a round trip to pcscd, for the
// benchmark. Loaded with LD_PRELOAD; at exit it appends "<call> <count>" lines to the file named
// by PCSC_COUNT_FILE. Each call is passed on unchanged to the real pcsc-lite.
#include <PCSC/winscard.h>
#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

enum Call { Establish, Release, Connect, Reconnect, Disconnect, Begin, End, Status, StatusChange, Control,
            Transmit, ListReaders, Cancel, GetAttrib, SetAttrib, kCalls };
const char* const kNames[kCalls] = {"SCardEstablishContext", "SCardReleaseContext", "SCardConnect", "SCardReconnect",
                                    "SCardDisconnect", "SCardBeginTransaction", "SCardEndTransaction", "SCardStatus",
                                    "SCardGetStatusChange", "SCardControl", "SCardTransmit", "SCardListReaders",
                                    "SCardCancel", "SCardGetAttrib", "SCardSetAttrib"};
std::atomic<long> counts[kCalls];

struct Report {
  ~Report() {
    const char* path = std::getenv("PCSC_COUNT_FILE");
    FILE* out = path != nullptr ? std::fopen(path, "a") : nullptr;
    if (out == nullptr) return;
    for (int i = 0; i < kCalls; ++i)
      if (counts[i] > 0) std::fprintf(out, "%s %ld\n", kNames[i], counts[i].load());
    std::fclose(out);
  }
} report;

template <typename F>
F Real(Call call) {
  ++counts[call];
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, kNames[call]));
}

}  // namespace

// Each wrapper: count, find the next definition, call it with the same arguments.
#define FORWARD(call, name, params, args) \
  extern "C" LONG name params { return Real<decltype(&name)>(call) args; }

FORWARD(Establish, SCardEstablishContext, (DWORD a, LPCVOID b, LPCVOID c, LPSCARDCONTEXT d), (a, b, c, d))
FORWARD(Release, SCardReleaseContext, (SCARDCONTEXT a), (a))
FORWARD(Connect, SCardConnect, (SCARDCONTEXT a, LPCSTR b, DWORD c, DWORD d, LPSCARDHANDLE e, LPDWORD f), (a, b, c, d, e, f))
FORWARD(Reconnect, SCardReconnect, (SCARDHANDLE a, DWORD b, DWORD c, DWORD d, LPDWORD e), (a, b, c, d, e))
FORWARD(Disconnect, SCardDisconnect, (SCARDHANDLE a, DWORD b), (a, b))
FORWARD(Begin, SCardBeginTransaction, (SCARDHANDLE a), (a))
FORWARD(End, SCardEndTransaction, (SCARDHANDLE a, DWORD b), (a, b))
FORWARD(Status, SCardStatus, (SCARDHANDLE a, LPSTR b, LPDWORD c, LPDWORD d, LPDWORD e, LPBYTE f, LPDWORD g), (a, b, c, d, e, f, g))
FORWARD(StatusChange, SCardGetStatusChange, (SCARDCONTEXT a, DWORD b, SCARD_READERSTATE* c, DWORD d), (a, b, c, d))
FORWARD(Control, SCardControl, (SCARDHANDLE a, DWORD b, LPCVOID c, DWORD d, LPVOID e, DWORD f, LPDWORD g), (a, b, c, d, e, f, g))
FORWARD(Transmit, SCardTransmit,
        (SCARDHANDLE a, const SCARD_IO_REQUEST* b, LPCBYTE c, DWORD d, SCARD_IO_REQUEST* e, LPBYTE f, LPDWORD g),
        (a, b, c, d, e, f, g))
FORWARD(ListReaders, SCardListReaders, (SCARDCONTEXT a, LPCSTR b, LPSTR c, LPDWORD d), (a, b, c, d))
FORWARD(Cancel, SCardCancel, (SCARDCONTEXT a), (a))
FORWARD(GetAttrib, SCardGetAttrib, (SCARDHANDLE a, DWORD b, LPBYTE c, LPDWORD d), (a, b, c, d))
FORWARD(SetAttrib, SCardSetAttrib, (SCARDHANDLE a, DWORD b, LPCBYTE c, DWORD d), (a, b, c, d))
