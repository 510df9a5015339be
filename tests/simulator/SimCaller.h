// A caller of the simulated library that knows only its exports and the record layouts:
// records are built byte by byte, entry points are called through __stdcall pointers.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "sim_control.h"

namespace simtest {

using Flag = uint8_t;
struct Entry {
  Flag(__stdcall* initialize)();
  Flag(__stdcall* dispose)();
  Flag(__stdcall* open)();
  Flag(__stdcall* close)();
  Flag(__stdcall* polling)(const void* params, uint8_t* count, const void* buffers);
  Flag(__stdcall* readBlock)(const void* params, const void* outputs);
  Flag(__stdcall* errorTypes)(int32_t* felicaType, int32_t* rwType);
  Flag(__stdcall* setCallback)(const void* params);
  Flag(__stdcall* startPolling)(const void* params);
  Flag(__stdcall* stopPolling)();
};
// Loaded with LoadLibrary by name, looked up with GetProcAddress.
const Entry& Lib();
HMODULE LibModule();

void PutU32(uint8_t* at, uint32_t value);
void PutPointer(uint8_t* at, const void* p);

// Both error types of the last failure; fails the test if the query fails.
std::pair<int32_t, int32_t> LastErrors();

// PollingParameters: the system code buffer and the 8-byte record pointing at it.
struct PollingRecord {
  uint8_t system[2];
  uint8_t bytes[8]{};
  PollingRecord(uint8_t high, uint8_t low, uint8_t slot = 0);
  PollingRecord(const PollingRecord&) = delete;
};

// One polling_and_get_card_information call with its own output buffers.
struct PollCall {
  uint8_t count = 0;
  uint8_t idm[8]{};
  uint8_t pmm[8]{};
  uint8_t buffers[8]{};
  PollCall();
  PollCall(const PollCall&) = delete;
  Flag Run(uint8_t high = 0xFF, uint8_t low = 0xFF, uint8_t slot = 0);
};

// One read_block_without_encryption call: services low byte first, block elements 2 bytes each,
// and a data buffer of 16 bytes per byte of the block list (plus guard bytes behind it).
struct BlockReadCall {
  static constexpr int kGuard = 64;
  std::vector<uint8_t> idm, services, blocks, data;
  uint8_t status1 = 0, status2 = 0, count = 0;
  uint8_t params[20]{};
  uint8_t outputs[16]{};
  BlockReadCall(std::vector<uint8_t> idm8, std::vector<uint8_t> serviceList, std::vector<uint8_t> blockList);
  BlockReadCall(const BlockReadCall&) = delete;
  Flag Run();
  bool GuardUntouched() const;
};

// CallbackParameters with the window and the two message names.
struct CallbackRecord {
  uint8_t bytes[20]{};
  std::string find, loss;
  CallbackRecord(HWND window, std::string findName = "FelicaAPI_callback_find",
                 std::string lossName = "FelicaAPI_callback_loss", int32_t value1 = 0, int32_t value2 = 1);
  CallbackRecord(const CallbackRecord&) = delete;
};

std::vector<uint8_t> CardIdm(int kind);
std::vector<std::string> LogLines();

// Processes this thread's messages until done() or the time is up; returns done().
bool PumpUntil(const std::function<bool()>& done, DWORD milliseconds);

} // namespace simtest
