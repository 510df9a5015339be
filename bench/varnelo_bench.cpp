// Benchmark: prints figures, asserts nothing. Start-up of varnelo.exe and varnelo-input.exe beside
// an empty window program, the one-shot read with a zero-latency and a realistic library, card
// events, varnelo-input's CPU while it waits, memory and the size of varnelo.exe. Run by scripts/bench under Wine, with the simulated library on
// the search path (never beside varnelo.exe).
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "InputLayout.h"
#include "InputWindow.h"
#include "MainForm.h"
#include "form_driver.h"
#include "sim_control.h"

namespace {

constexpr int Starts = 11;
constexpr int Presses = 1000;
constexpr int RealisticPresses = 100;
constexpr int Reads = 10000;
constexpr int Events = 1000;

double Now() {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) * 1000.0 / frequency; // milliseconds
}

double Median(std::vector<double> values) {
  if (values.empty()) return -1;
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

struct Figure {
  std::string Key;
  std::string Label;
  double Value; // < 0: not measured
  std::string Unit;
  std::string Goal;
  std::string Note;
};
std::vector<Figure> figures;

void Add(std::string key, std::string label, double value, std::string unit, std::string goal = "",
         std::string note = "") {
  figures.push_back({std::move(key), std::move(label), value, std::move(unit), std::move(goal), std::move(note)});
}

std::wstring Folder(const std::wstring& path) { return path.substr(0, path.find_last_of(L"\\/")); }

std::wstring ThisFolder() {
  wchar_t self[MAX_PATH]{};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  return Folder(self);
}

struct WindowSearch {
  DWORD ProcessId;
  HWND Found;
};

BOOL CALLBACK FindShownWindow(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<WindowSearch*>(parameter);
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  if (processId == search->ProcessId && IsWindowVisible(window)) {
    search->Found = window;
    return FALSE;
  }
  return TRUE;
}

struct StartResult {
  double Milliseconds = -1; // process start to its window shown; varnelo shows it after the load probe
  double PeakWorkingSet = -1;
};

// quitCommand: the command that ends the program, for one that only hides on WM_CLOSE.
StartResult StartOnce(const std::wstring& exe, int quitCommand = 0) {
  StartResult result;
  std::wstring command = L"\"" + exe + L"\"";
  const std::wstring folder = Folder(exe);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const double start = Now();
  if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                      &process)) {
    return result;
  }
  CloseHandle(process.hThread);
  WindowSearch search{process.dwProcessId, nullptr};
  while (!search.Found && Now() - start < 20000) {
    EnumWindows(FindShownWindow, reinterpret_cast<LPARAM>(&search));
    if (!search.Found) Sleep(1);
  }
  if (search.Found) {
    result.Milliseconds = Now() - start;
    // Let the program settle into its message loop before reading its peak.
    WaitForInputIdle(process.hProcess, 2000);
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(process.hProcess, &memory, sizeof memory) && memory.PeakWorkingSetSize > 0) {
      result.PeakWorkingSet = static_cast<double>(memory.PeakWorkingSetSize);
    }
    if (quitCommand)
      PostMessageW(search.Found, WM_COMMAND, quitCommand, 0);
    else
      PostMessageW(search.Found, WM_CLOSE, 0, 0);
  }
  if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
  CloseHandle(process.hProcess);
  return result;
}

void MeasureStartUp() {
  const std::wstring varnelo = Folder(ThisFolder()) + L"\\bin\\varnelo.exe";
  const std::wstring empty = ThisFolder() + L"\\empty_window.exe";
  const std::wstring input = Folder(ThisFolder()) + L"\\bin\\varnelo-input.exe";
  std::vector<double> varneloTimes, emptyTimes, varneloPeaks, emptyPeaks, inputTimes, inputPeaks;
  // Interleaved, so that all see the same state of the machine.
  for (int i = 0; i < Starts; ++i) {
    StartResult v = StartOnce(varnelo);
    StartResult e = StartOnce(empty);
    StartResult in = StartOnce(input, IdMenuQuit);
    if (v.Milliseconds >= 0) varneloTimes.push_back(v.Milliseconds);
    if (e.Milliseconds >= 0) emptyTimes.push_back(e.Milliseconds);
    if (v.PeakWorkingSet >= 0) varneloPeaks.push_back(v.PeakWorkingSet);
    if (e.PeakWorkingSet >= 0) emptyPeaks.push_back(e.PeakWorkingSet);
    if (in.Milliseconds >= 0) inputTimes.push_back(in.Milliseconds);
    if (in.PeakWorkingSet >= 0) inputPeaks.push_back(in.PeakWorkingSet);
  }
  const double in = Median(inputTimes);
  Add("startup_input_ms", "start-up to shown, varnelo-input.exe (median of " + std::to_string(inputTimes.size()) + ")",
      in, "ms", "", "shown, then it opens the reader");
  Add("startup_input_ratio", "start-up ratio varnelo-input / empty", in > 0 && Median(emptyTimes) > 0 ? in / Median(emptyTimes) : -1, "");
  Add("peak_working_set_input_mb", "peak working set, varnelo-input.exe after start",
      inputPeaks.empty() ? -1 : *std::max_element(inputPeaks.begin(), inputPeaks.end()) / 1048576.0, "MB", "",
      "Wine counts its own libraries in");
  const double v = Median(varneloTimes), e = Median(emptyTimes);
  const std::string count = " (median of " + std::to_string(varneloTimes.size()) + ")";
  Add("startup_varnelo_ms", "start-up to ready, varnelo.exe" + count, v, "ms");
  Add("startup_empty_ms", "start-up to shown, empty window" + count, e, "ms");
  Add("startup_ratio", "start-up ratio varnelo / empty", v > 0 && e > 0 ? v / e : -1, "", "< 1.2");
  Add("peak_working_set_varnelo_mb", "peak working set, varnelo.exe after start",
      varneloPeaks.empty() ? -1 : *std::max_element(varneloPeaks.begin(), varneloPeaks.end()) / 1048576.0, "MB",
      "< 16 MB", "Wine counts its own libraries in");
  Add("peak_working_set_empty_mb", "peak working set, empty window after start",
      emptyPeaks.empty() ? -1 : *std::max_element(emptyPeaks.begin(), emptyPeaks.end()) / 1048576.0, "MB");
}

void SetIdmOnly(MainForm& form, bool ticked) {
  SendMessageW(form.IdmOnly, BM_SETCHECK, ticked ? BST_CHECKED : BST_UNCHECKED, 0);
  Click(form.IdmOnly);
}

// What the message loop does between two presses (painting the last result) is not the press's.
void Settle() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

double Press(MainForm& form) {
  sim_log_clear(); // the simulator's log is the benchmark's memory, not the program's
  Settle();
  const double start = Now();
  Click(form.BtnPoll);
  return Now() - start;
}

// Median press time and median ratio of press time to the library's latencies in that press.
void MeasureRealistic(MainForm& form, bool idmOnly, const std::string& key, const std::string& label) {
  SetIdmOnly(form, idmOnly);
  const int open = 30, poll = 10, read = 10;
  sim_set_latency("open_reader_writer_auto", open);
  sim_set_latency("polling_and_get_card_information", poll);
  sim_set_latency("read_block_without_encryption", read);
  std::vector<double> times, ratios;
  double library = 0;
  for (int i = 0; i < RealisticPresses; ++i) {
    const double time = Press(form);
    library = open * sim_call_count("open_reader_writer_auto") + poll * sim_call_count("polling_and_get_card_information") +
              read * sim_call_count("read_block_without_encryption");
    times.push_back(time);
    ratios.push_back(time / library);
  }
  sim_set_latency("*", 0);
  SetIdmOnly(form, true);
  const std::string count = " (median of " + std::to_string(RealisticPresses) + ")";
  char sum[64];
  std::snprintf(sum, sizeof sum, "library's latencies %.0f ms", library);
  Add(key + "_ms", "press, realistic latencies, " + label + count, Median(times), "ms", "", sum);
  Add(key + "_ratio", "press / library latencies, " + label, Median(ratios), "", "< 1.02");
}

void MeasureInProcess() {
  sim_reset();
  HWND window = CreateMainForm(GetModuleHandleW(nullptr), SW_SHOWNOACTIVATE, false);
  MainForm* form = MainFormOf(window);
  if (!form) {
    std::printf("the window did not load\n");
    return;
  }
  sim_place_card(0);

  std::vector<double> presses;
  for (int i = 0; i < Reads; ++i) {
    const double time = Press(*form);
    if (i < Presses) presses.push_back(time);
  }
  Add("press_zero_latency_ms", "press, zero-latency library (median of 1,000)", Median(presses), "ms", "< 1 ms",
      "includes the simulator's own work");

  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof memory;
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
  Add("private_bytes_after_reads_mb", "private bytes after 10,000 reads",
      memory.PrivateUsage > 0 ? memory.PrivateUsage / 1048576.0 : -1, "MB", "",
      memory.PrivateUsage > 0 ? "" : "not reported by Wine (PrivateUsage 0)");
  Add("heap_in_use_after_reads_mb", "heap in use after 10,000 reads", HeapBytesInUse() / 1048576.0, "MB", "",
      "HeapWalk, all heaps of the process");

  MeasureRealistic(*form, true, "press_realistic_idm", "IDm only");
  MeasureRealistic(*form, false, "press_realistic_number", "with FeliCa number");

  // Card events: the registered messages the library sends, handled on this thread.
  Click(form->BtnCmd);
  const int32_t delivered = sim_events_delivered();
  PumpUntil([&] { return sim_events_delivered() > delivered; }, 5000);
  const UINT found = RegisterWindowMessageW(L"FelicaAPI_callback_find");
  const UINT lost = RegisterWindowMessageW(L"FelicaAPI_callback_loss");
  std::vector<double> foundTimes, lostTimes;
  int wrong = 0;
  for (int i = 0; i < Events; ++i) {
    sim_log_clear();
    Settle();
    double start = Now();
    SendMessageW(form->PollingHandle, found, 0, 0);
    foundTimes.push_back(Now() - start);
    if (Text(form->TxtIDm).empty()) ++wrong;
    Settle();
    start = Now();
    SendMessageW(form->PollingHandle, lost, 0, 0);
    lostTimes.push_back(Now() - start);
    if (!Text(form->TxtIDm).empty()) ++wrong;
  }
  Add("event_found_ms", "card found to fields updated (median of 1,000)", Median(foundTimes), "ms", "< 1 ms",
      wrong ? "WRONG FIELDS" : "IDm polled anew");
  Add("event_lost_ms", "card lost to fields cleared (median of 1,000)", Median(lostTimes), "ms", "< 1 ms");

  // The same, end to end: from the card's change to the event handled, through the polling thread.
  std::vector<double> throughThread;
  for (int i = 0; i < Events; ++i) {
    sim_log_clear();
    Settle();
    const int32_t before = sim_events_delivered();
    const double start = Now();
    if (i % 2 == 0) {
      sim_remove_card();
    } else {
      sim_place_card(0);
    }
    MSG message;
    while (sim_events_delivered() == before && Now() - start < 5000) {
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    throughThread.push_back(Now() - start);
  }
  Add("event_via_thread_ms", "card change to event handled, via polling thread (median of 1,000)",
      Median(throughThread), "ms", "", "includes the simulator's thread waking");
  Click(form->BtnCmd);

  memory.cb = sizeof memory;
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
  Add("peak_working_set_bench_mb", "peak working set, this process after all reads and events",
      memory.PeakWorkingSetSize > 0 ? memory.PeakWorkingSetSize / 1048576.0 : -1, "MB", "< 16 MB",
      "Wine counts its own libraries in");

  SendMessageW(window, WM_CLOSE, 0, 0);

  // The same presses on a hidden window: what is left without drawing.
  sim_reset();
  window = CreateMainForm(GetModuleHandleW(nullptr), SW_HIDE, false);
  if ((form = MainFormOf(window)) != nullptr) {
    sim_place_card(0);
    presses.clear();
    for (int i = 0; i < Presses; ++i) presses.push_back(Press(*form));
    Add("press_zero_latency_hidden_ms", "press, zero-latency library, window hidden (median of 1,000)",
        Median(presses), "ms", "", "no drawing; library calls take microseconds, the rest is window calls");
    SendMessageW(window, WM_CLOSE, 0, 0);
  }
}

// The input program's window in this process, reading through the simulated library with no card
// on the reader: the share of one core the whole process takes while it waits.
void MeasureInputWaiting() {
  sim_reset();
  HWND window = CreateInputWindow(GetModuleHandleW(nullptr), true);
  if (!window) {
    Add("input_waiting_cpu_percent", "CPU while varnelo-input waits for a card", -1, "%", "<= 1 %");
    return;
  }
  const std::wstring waiting = Say(kWaiting);
  PumpUntil([&] { return Text(GetDlgItem(window, IdStatus)) == waiting; }, 10000);
  auto cpu = [] {
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    auto ticks = [](const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 10000.0; };
    return ticks(kernel) + ticks(user);
  };
  const double cpuBefore = cpu(), start = Now();
  // Only waiting in GetMessage, as the program's own loop does.
  SetTimer(nullptr, 0, 20000, nullptr);
  MSG message;
  while (Now() - start < 20000 && GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  const double share = 100.0 * (cpu() - cpuBefore) / (Now() - start);
  Add("input_waiting_cpu_percent", "CPU while varnelo-input waits for a card (20 s, simulated library)", share, "%",
      "<= 1 %", "the whole process; Windows' 15.6 ms clock ticks");
  DestroyWindow(window);
  PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE); // its window's end, not ours
}

void MeasureSize() {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  const std::wstring exe = Folder(ThisFolder()) + L"\\bin\\varnelo.exe";
  const bool found = GetFileAttributesExW(exe.c_str(), GetFileExInfoStandard, &data) != FALSE;
  Add("varnelo_exe_mb", "size of varnelo.exe", found ? data.nFileSizeLow / 1048576.0 : -1, "MB", "< 1.5 MB");
}

void Print() {
  std::printf("%-66s %12s  %-6s %-8s %s\n", "figure", "value", "unit", "goal", "note");
  for (const Figure& f : figures) {
    if (f.Value < 0) {
      std::printf("%-66s %12s  %-6s %-8s %s\n", f.Label.c_str(), "n/a", f.Unit.c_str(), f.Goal.c_str(),
                  f.Note.c_str());
    } else {
      std::printf("%-66s %12.3f  %-6s %-8s %s\n", f.Label.c_str(), f.Value, f.Unit.c_str(), f.Goal.c_str(),
                  f.Note.c_str());
    }
  }
  for (const Figure& f : figures) {
    if (f.Value < 0) {
      std::printf("BENCH %s=n/a\n", f.Key.c_str());
    } else {
      std::printf("BENCH %s=%.3f\n", f.Key.c_str(), f.Value);
    }
  }
  std::fflush(stdout);
}

} // namespace

int main() {
  MeasureStartUp();
  MeasureInProcess();
  MeasureInputWaiting();
  MeasureSize();
  Print();
  return 0;
}
