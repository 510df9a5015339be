#include "SimCaller.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace simtest {
namespace {

template <class F>
void Bind(HMODULE module, const char* name, F& slot) {
  slot = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  if (!slot)
    ADD_FAILURE() << "missing export " << name;
}

} // namespace

HMODULE LibModule() {
  static HMODULE module = LoadLibraryW(L"felica_for_vb.dll");
  return module;
}

const Entry& Lib() {
  static const Entry entry = [] {
    Entry e{};
    HMODULE m = LibModule();
    if (!m) {
      ADD_FAILURE() << "felica_for_vb.dll not loaded";
      return e;
    }
    Bind(m, "initialize_library", e.initialize);
    Bind(m, "dispose_library", e.dispose);
    Bind(m, "open_reader_writer_auto", e.open);
    Bind(m, "close_reader_writer", e.close);
    Bind(m, "polling_and_get_card_information", e.polling);
    Bind(m, "read_block_without_encryption", e.readBlock);
    Bind(m, "get_last_error_types", e.errorTypes);
    Bind(m, "set_call_back_parameters", e.setCallback);
    Bind(m, "start_polling", e.startPolling);
    Bind(m, "stop_polling", e.stopPolling);
    return e;
  }();
  return entry;
}

void PutU32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i)
    at[i] = static_cast<uint8_t>(value >> (8 * i));
}

void PutPointer(uint8_t* at, const void* p) { PutU32(at, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p))); }

std::pair<int32_t, int32_t> LastErrors() {
  int32_t felicaType = 0, rwType = 0;
  EXPECT_EQ(Lib().errorTypes(&felicaType, &rwType), 1) << "get_last_error_types failed";
  return {felicaType, rwType};
}

PollingRecord::PollingRecord(uint8_t high, uint8_t low, uint8_t slot) : system{high, low} {
  PutPointer(bytes, system);
  bytes[4] = slot;
}

PollCall::PollCall() {
  PutPointer(buffers, idm);
  PutPointer(buffers + 4, pmm);
}

Flag PollCall::Run(uint8_t high, uint8_t low, uint8_t slot) {
  PollingRecord record(high, low, slot);
  return Lib().polling(record.bytes, &count, buffers);
}

BlockReadCall::BlockReadCall(std::vector<uint8_t> idm8, std::vector<uint8_t> serviceList,
                             std::vector<uint8_t> blockList)
    : idm(std::move(idm8)), services(std::move(serviceList)), blocks(std::move(blockList)),
      data(16 * blocks.size() + kGuard, 0) {
  std::fill(data.end() - kGuard, data.end(), 0xEE);
  PutPointer(params, idm.data());
  params[4] = static_cast<uint8_t>(services.size() / 2);
  PutPointer(params + 8, services.data());
  params[12] = static_cast<uint8_t>(blocks.size() / 2);
  PutPointer(params + 16, blocks.data());
  count = static_cast<uint8_t>(blocks.size());
  PutPointer(outputs, &status1);
  PutPointer(outputs + 4, &status2);
  PutPointer(outputs + 8, &count);
  PutPointer(outputs + 12, data.data());
}

Flag BlockReadCall::Run() { return Lib().readBlock(params, outputs); }

bool BlockReadCall::GuardUntouched() const {
  for (size_t i = data.size() - kGuard; i < data.size(); ++i)
    if (data[i] != 0xEE)
      return false;
  return true;
}

CallbackRecord::CallbackRecord(HWND window, std::string findName, std::string lossName, int32_t value1,
                               int32_t value2)
    : find(std::move(findName)), loss(std::move(lossName)) {
  PutPointer(bytes, window);
  PutPointer(bytes + 4, find.c_str());
  PutPointer(bytes + 8, loss.c_str());
  PutU32(bytes + 12, static_cast<uint32_t>(value1));
  PutU32(bytes + 16, static_cast<uint32_t>(value2));
}

std::vector<uint8_t> CardIdm(int kind) {
  std::vector<uint8_t> idm(8);
  EXPECT_EQ(sim_card_idm(kind, idm.data()), 1);
  return idm;
}

std::vector<std::string> LogLines() {
  std::vector<std::string> lines;
  for (int32_t i = 0, n = sim_log_count(); i < n; ++i) {
    char buffer[512];
    sim_log_line(i, buffer, sizeof buffer);
    lines.emplace_back(buffer);
  }
  return lines;
}

bool PumpUntil(const std::function<bool()>& done, DWORD milliseconds) {
  const DWORD start = GetTickCount();
  while (!done()) {
    const DWORD spent = GetTickCount() - start;
    if (spent >= milliseconds)
      return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, std::min<DWORD>(milliseconds - spent, 20), QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return true;
}

} // namespace simtest
