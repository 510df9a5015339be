// Soak: in one process, 10,000 one-shot reads (card, no card, a failure, in turn) and 10,000
// card-found and card-lost events through the simulated library's polling thread. USER and GDI
// objects, handles and private bytes must stay flat once the first 1,000 have warmed things up.
#include <windows.h>

#include <psapi.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "MainForm.h"
#include "form_driver.h"
#include "sim_control.h"

namespace {

constexpr int Reads = 10000;
constexpr int Events = 10000;
constexpr int WarmUp = 1000;

// Bounds on the growth from the sample after the first 1,000 to the end of the same run of
// 10,000. The first 1,000 take the one-time costs (loading the library, message and font
// caches, the heap reaching its working size). Nothing of a read or an event outlives it, so a
// leak of one object per read or event would add 9,000 and one of 8 bytes 72,000 bytes; the
// bounds leave room only for Wine's and the heap's own small caches. (Seen here: +0 handles,
// +0 windows, under 100 heap bytes.)
constexpr long MaxObjectGrowth = 16;              // USER objects, GDI objects, handles
constexpr long long MaxPrivateGrowth = 64 * 1024; // bytes

struct Sample {
  const char* When;
  long User;
  long Gdi;
  long Handles;
  long long Private;
  // Wine gives 0 for the four above; these stand in for them and are always checked.
  long OpenHandles;   // handle values that name an open handle
  long long HeapInUse; // bytes in busy blocks of all the process's heaps
  long Windows;       // windows of this thread, children included
};

long ProbeOpenHandles() {
  long count = 0;
  DWORD flags = 0;
  for (uintptr_t value = 4; value < 0x10000; value += 4) {
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
  }
  return count;
}

BOOL CALLBACK CountWindow(HWND window, LPARAM count) {
  ++*reinterpret_cast<long*>(count);
  EnumChildWindows(window, CountWindow, count);
  return TRUE;
}

long ThreadWindows() {
  long count = 0;
  EnumThreadWindows(GetCurrentThreadId(), CountWindow, reinterpret_cast<LPARAM>(&count));
  return count;
}

Sample Take(const char* when) {
  Sample sample{when, static_cast<long>(GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS)),
                static_cast<long>(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)), -1, -1, ProbeOpenHandles(),
                HeapBytesInUse(), ThreadWindows()};
  DWORD handles = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &handles)) sample.Handles = static_cast<long>(handles);
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof memory;
  if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory)) {
    sample.Private = static_cast<long long>(memory.PrivateUsage);
  }
  return sample;
}

// A figure Wine leaves at 0 (or fails to give) in every sample is not reported, and not checked.
bool Reported(const std::vector<Sample>& samples, long long Sample::*figure) {
  for (const Sample& sample : samples) {
    if (sample.*figure > 0) return true;
  }
  return false;
}
bool Reported(const std::vector<Sample>& samples, long Sample::*figure) {
  for (const Sample& sample : samples) {
    if (sample.*figure > 0) return true;
  }
  return false;
}

void Print(const std::vector<Sample>& samples) {
  std::printf("%-20s %6s %6s %8s %14s | %12s %14s %8s\n", "soak", "USER", "GDI", "handles", "private bytes",
              "open handles", "heap in use", "windows");
  for (const Sample& s : samples) {
    std::printf("%-20s %6ld %6ld %8ld %14lld | %12ld %14lld %8ld\n", s.When, s.User, s.Gdi, s.Handles, s.Private,
                s.OpenHandles, s.HeapInUse, s.Windows);
  }
  if (!Reported(samples, &Sample::User)) std::printf("USER objects: not reported by Wine (GetGuiResources gives 0)\n");
  if (!Reported(samples, &Sample::Gdi)) std::printf("GDI objects: not reported by Wine (GetGuiResources gives 0)\n");
  if (!Reported(samples, &Sample::Handles)) std::printf("handles: not reported by Wine (GetProcessHandleCount gives 0)\n");
  if (!Reported(samples, &Sample::Private)) std::printf("private bytes: not reported by Wine (PrivateUsage is 0)\n");
  std::printf("right of |: open handles probed with GetHandleInformation, busy heap bytes from HeapWalk, windows of this thread\n");
  std::fflush(stdout);
}

void ExpectFlat(const std::vector<Sample>& samples, const Sample& warm, const Sample& end) {
  SCOPED_TRACE(std::string(warm.When) + " -> " + end.When);
  // Figures Wine leaves at 0 are not checked; the stand-ins below always are.
  const struct {
    bool Reported;
    long long Growth;
    long long Bound;
  } checks[] = {
      {Reported(samples, &Sample::User), end.User - warm.User, MaxObjectGrowth},
      {Reported(samples, &Sample::Gdi), end.Gdi - warm.Gdi, MaxObjectGrowth},
      {Reported(samples, &Sample::Handles), end.Handles - warm.Handles, MaxObjectGrowth},
      {Reported(samples, &Sample::Private), end.Private - warm.Private, MaxPrivateGrowth},
  };
  for (const auto& check : checks) {
    if (check.Reported) {
      EXPECT_LE(check.Growth, check.Bound);
    }
  }
  EXPECT_LE(end.OpenHandles - warm.OpenHandles, MaxObjectGrowth);
  EXPECT_LE(end.HeapInUse - warm.HeapInUse, MaxPrivateGrowth);
  EXPECT_LE(end.Windows - warm.Windows, 0);
}

int dialogs = 0;
void CountDialog(HWND, const std::wstring&) { ++dialogs; }

const wchar_t CardIdm[] = L"012E4C8A1B3D5F70"; // the simulator's card 0

} // namespace

TEST(Soak, ReadsAndCardEventsLeaveNothingBehind) {
  sim_reset();
  SetErrorDialogForTesting(CountDialog);
  // Hidden: the reads and events go through messages; a shown window only adds Wine's wait
  // for the window manager when it is destroyed.
  HWND window = CreateMainForm(GetModuleHandleW(nullptr), SW_HIDE, false);
  MainForm* form = MainFormOf(window);
  ASSERT_NE(form, nullptr);

  std::vector<Sample> samples{Take("start")};
  int wrongReads = 0;
  for (int i = 0; i < Reads; ++i) {
    // The simulator logs every call; its log is the test's, not the program's, memory.
    sim_log_clear();
    const int turn = i % 3;
    if (turn == 0) {
      sim_place_card(0);
    } else if (turn == 1) {
      sim_remove_card();
    } else {
      sim_place_card(0);
      sim_fail("polling_and_get_card_information", 1040, 155, 1);
    }
    Click(form->BtnPoll);
    const std::wstring idm = Text(form->TxtIDm);
    if ((turn == 0 && idm != CardIdm) || (turn != 0 && !idm.empty())) ++wrongReads;
    if (i + 1 == WarmUp) samples.push_back(Take("after 1,000 reads"));
  }
  samples.push_back(Take("after 10,000 reads"));
  EXPECT_EQ(wrongReads, 0);
  EXPECT_EQ(dialogs, (Reads + 1) / 3); // one per failed read, none else
  EXPECT_EQ(sim_is_initialized(), 0);

  Click(form->BtnCmd);
  ASSERT_EQ(sim_is_polling(), 1);
  int32_t delivered = sim_events_delivered();
  int missed = 0;
  for (int i = 0; i < Events; ++i) {
    sim_log_clear();
    if (i % 2 == 0) {
      sim_place_card(0);
    } else {
      sim_remove_card();
    }
    if (!PumpUntil([&] { return sim_events_delivered() > delivered; }, 5000)) ++missed;
    delivered = sim_events_delivered();
    if (i + 1 == WarmUp) samples.push_back(Take("after 1,000 events"));
    if (missed > 10) break;
  }
  samples.push_back(Take("after 10,000 events"));
  EXPECT_EQ(missed, 0);
  EXPECT_EQ(Text(form->TxtMsg), L"カードをかざして下さい。");
  Click(form->BtnCmd);
  EXPECT_EQ(sim_is_initialized(), 0);
  EXPECT_EQ(dialogs, (Reads + 1) / 3);

  Print(samples);
  ExpectFlat(samples, samples[1], samples[2]);
  ExpectFlat(samples, samples[3], samples[4]);

  SendMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(window));
  SetErrorDialogForTesting(nullptr);
}
