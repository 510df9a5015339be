// The ten entry points through their exports: success paths, each error type, bad input, the log.
#include <gtest/gtest.h>

#include "SimCaller.h"

using namespace simtest;
using Errors = std::pair<int32_t, int32_t>;

namespace {

const std::vector<uint8_t> kFelicaNumberService{0xCB, 0x33};
const std::vector<uint8_t> kBlockZero{0x80, 0x00};

class EntryPoints : public ::testing::Test {
protected:
  void SetUp() override { sim_reset(); }
  void TearDown() override { sim_reset(); }

  static void OpenWithCard(int kind) {
    ASSERT_EQ(Lib().initialize(), 1);
    ASSERT_EQ(Lib().open(), 1);
    if (kind >= 0) {
      ASSERT_EQ(sim_place_card(kind), 1);
    }
  }
};

TEST_F(EntryPoints, AllExportsHavePlainNames) {
  HMODULE m = LibModule();
  ASSERT_NE(m, nullptr);
  for (const char* name :
       {"initialize_library", "dispose_library", "open_reader_writer_auto", "close_reader_writer",
        "polling_and_get_card_information", "read_block_without_encryption", "get_last_error_types",
        "set_call_back_parameters", "start_polling", "stop_polling", "sim_reset", "sim_place_card", "sim_fail",
        "sim_log_line", "sim_call_count", "sim_events_delivered"})
    EXPECT_NE(GetProcAddress(m, name), nullptr) << name;
  EXPECT_EQ(GetProcAddress(m, "_initialize_library@0"), nullptr);
  EXPECT_EQ(GetProcAddress(m, "polling_and_get_card_information@12"), nullptr);
}

TEST_F(EntryPoints, BeforeInitialisingEveryCallFailsWith1005AndTheErrorQueryFails) {
  PollingRecord any(0xFF, 0xFF);
  PollCall poll;
  BlockReadCall read(CardIdm(0), kFelicaNumberService, kBlockZero);
  HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  CallbackRecord callback(window);
  sim_place_card(0);
  EXPECT_EQ(Lib().dispose(), 0);
  EXPECT_EQ(Lib().open(), 0);
  EXPECT_EQ(Lib().close(), 0);
  EXPECT_EQ(poll.Run(), 0);
  EXPECT_EQ(read.Run(), 0);
  EXPECT_EQ(Lib().setCallback(callback.bytes), 0);
  EXPECT_EQ(Lib().startPolling(any.bytes), 0);
  EXPECT_EQ(Lib().stopPolling(), 0);
  EXPECT_EQ(sim_is_reader_open(), 0);

  int32_t felicaType = 77, rwType = 77;
  EXPECT_EQ(Lib().errorTypes(&felicaType, &rwType), 0);
  EXPECT_EQ(felicaType, 77);
  EXPECT_EQ(rwType, 77);
  ASSERT_EQ(Lib().initialize(), 1);
  EXPECT_EQ(LastErrors(), Errors(1005, 105));
  DestroyWindow(window);
}

TEST_F(EntryPoints, LifecycleErrors) {
  ASSERT_EQ(Lib().initialize(), 1);
  EXPECT_EQ(Lib().initialize(), 0);
  EXPECT_EQ(LastErrors(), Errors(1006, 106));
  EXPECT_EQ(sim_is_initialized(), 1);

  EXPECT_EQ(Lib().close(), 0);
  EXPECT_EQ(LastErrors(), Errors(1029, 120));
  ASSERT_EQ(Lib().open(), 1);
  EXPECT_EQ(sim_is_reader_open(), 1);
  EXPECT_EQ(Lib().open(), 0);
  EXPECT_EQ(LastErrors(), Errors(1030, 121));
  EXPECT_EQ(Lib().close(), 1);
  EXPECT_EQ(sim_is_reader_open(), 0);

  sim_attach_reader(0);
  EXPECT_EQ(Lib().open(), 0);
  EXPECT_EQ(LastErrors(), Errors(1028, 0));
  sim_attach_reader(1);
  ASSERT_EQ(Lib().open(), 1);
  sim_attach_reader(0); // unplugging closes the reader
  EXPECT_EQ(sim_is_reader_open(), 0);
  EXPECT_EQ(Lib().close(), 0);
  EXPECT_EQ(LastErrors(), Errors(1029, 120));

  sim_attach_reader(1);
  ASSERT_EQ(Lib().open(), 1);
  EXPECT_EQ(Lib().dispose(), 1);
  EXPECT_EQ(sim_is_initialized(), 0);
  EXPECT_EQ(sim_is_reader_open(), 0);
  EXPECT_EQ(Lib().dispose(), 0);
  ASSERT_EQ(Lib().initialize(), 1);
  EXPECT_EQ(LastErrors(), Errors(1005, 105));
  EXPECT_EQ(Lib().open(), 1); // disposing closed the reader
}

TEST_F(EntryPoints, PollingFindsTheCardOfTheSystemAsked) {
  OpenWithCard(0);
  PollCall any;
  ASSERT_EQ(any.Run(0xFF, 0xFF), 1);
  EXPECT_EQ(any.count, 1);
  EXPECT_EQ(std::vector<uint8_t>(any.idm, any.idm + 8), (std::vector<uint8_t>{0x01, 0x2E, 0x4C, 0x8A, 0x1B, 0x3D, 0x5F, 0x70}));
  EXPECT_EQ(std::vector<uint8_t>(any.pmm, any.pmm + 8), (std::vector<uint8_t>{0x03, 0x01, 0x4B, 0x02, 0x4F, 0x49, 0x93, 0xFF}));

  PollCall common;
  EXPECT_EQ(common.Run(0xFE, 0x00), 1);
  EXPECT_EQ(common.count, 1);
  PollCall second;
  EXPECT_EQ(second.Run(0x00, 0x03), 1);

  sim_place_card(1); // system 0003 only
  PollCall missing;
  EXPECT_EQ(missing.Run(0xFE, 0x00), 0);
  EXPECT_EQ(LastErrors(), Errors(1036, 157));
  EXPECT_EQ(missing.count, 0);
  EXPECT_EQ(std::vector<uint8_t>(missing.idm, missing.idm + 8), std::vector<uint8_t>(8, 0));
  PollCall other;
  ASSERT_EQ(other.Run(0xFF, 0xFF), 1);
  EXPECT_EQ(std::vector<uint8_t>(other.idm, other.idm + 8), CardIdm(1));

  sim_remove_card();
  PollCall none;
  EXPECT_EQ(none.Run(), 0);
  EXPECT_EQ(LastErrors(), Errors(1036, 157));
  EXPECT_EQ(none.count, 0);
}

TEST_F(EntryPoints, CustomCardIsPolledAndRead) {
  OpenWithCard(-1);
  const uint8_t idm[8] = {0xAA, 1, 2, 3, 4, 5, 6, 0xBB};
  const uint8_t pmm[8] = {9, 8, 7, 6, 5, 4, 3, 2};
  uint8_t block0[16];
  for (int i = 0; i < 16; ++i)
    block0[i] = static_cast<uint8_t>(0xF0 + i);
  sim_place_custom_card(idm, pmm, 1, block0);
  PollCall poll;
  ASSERT_EQ(poll.Run(0xFE, 0x00), 1);
  EXPECT_EQ(std::vector<uint8_t>(poll.pmm, poll.pmm + 8), std::vector<uint8_t>(pmm, pmm + 8));
  BlockReadCall read(std::vector<uint8_t>(idm, idm + 8), kFelicaNumberService, kBlockZero);
  ASSERT_EQ(read.Run(), 1);
  EXPECT_EQ(std::vector<uint8_t>(read.data.begin(), read.data.begin() + 16), std::vector<uint8_t>(block0, block0 + 16));

  sim_place_custom_card(idm, pmm, 0, nullptr);
  PollCall noCommonArea;
  EXPECT_EQ(noCommonArea.Run(0xFE, 0x00), 0);
  EXPECT_EQ(LastErrors().first, 1036);
  EXPECT_EQ(noCommonArea.Run(0x00, 0x03), 1);
}

TEST_F(EntryPoints, PollingRejectsBadInputAndAClosedReader) {
  ASSERT_EQ(Lib().initialize(), 1);
  sim_place_card(0);
  PollCall closed;
  EXPECT_EQ(closed.Run(), 0);
  EXPECT_EQ(LastErrors(), Errors(1029, 120));
  ASSERT_EQ(Lib().open(), 1);

  PollingRecord any(0xFF, 0xFF);
  PollCall poll;
  EXPECT_EQ(Lib().polling(nullptr, &poll.count, poll.buffers), 0);
  EXPECT_EQ(LastErrors(), Errors(1002, 102));
  EXPECT_EQ(Lib().polling(any.bytes, nullptr, poll.buffers), 0);
  EXPECT_EQ(Lib().polling(any.bytes, &poll.count, nullptr), 0);
  uint8_t noSystem[8]{};
  EXPECT_EQ(Lib().polling(noSystem, &poll.count, poll.buffers), 0);
  uint8_t noIdmBuffer[8]{};
  PutPointer(noIdmBuffer + 4, poll.pmm);
  EXPECT_EQ(Lib().polling(any.bytes, &poll.count, noIdmBuffer), 0);
  EXPECT_EQ(LastErrors(), Errors(1002, 102));
  EXPECT_EQ(poll.Run(0xFF, 0xFF, 2), 0); // time slots are 0, 1, 3, 7 or 15
  EXPECT_EQ(LastErrors(), Errors(1002, 102));
  EXPECT_EQ(poll.count, 0);
  EXPECT_EQ(poll.Run(0xFF, 0xFF, 15), 1);
}

TEST_F(EntryPoints, BlockReadGivesTheFelicaNumberBlock) {
  OpenWithCard(0);
  BlockReadCall read(CardIdm(0), kFelicaNumberService, kBlockZero);
  read.status1 = 0x55;
  read.status2 = 0x55;
  ASSERT_EQ(read.Run(), 1);
  EXPECT_EQ(read.status1, 0);
  EXPECT_EQ(read.status2, 0);
  EXPECT_EQ(read.count, 1);
  EXPECT_EQ(std::vector<uint8_t>(read.data.begin(), read.data.begin() + 8),
            (std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0}));
  EXPECT_EQ(std::vector<uint8_t>(read.data.begin() + 16, read.data.begin() + 32), std::vector<uint8_t>(16, 0));
  EXPECT_TRUE(read.GuardUntouched());

  // Two services, blocks in list order; the element's low nibble picks the service.
  BlockReadCall two(CardIdm(0), {0x0B, 0x10, 0xCB, 0x33}, {0x81, 0x00, 0x80, 0x01});
  ASSERT_EQ(two.Run(), 1);
  EXPECT_EQ(two.count, 2);
  EXPECT_EQ(two.data[0], 0x12);
  EXPECT_EQ(std::vector<uint8_t>(two.data.begin() + 16, two.data.begin() + 22),
            (std::vector<uint8_t>{0x16, 0x01, 0x00, 0x02, 0x2C, 0x84}));
  EXPECT_TRUE(two.GuardUntouched());
}

TEST_F(EntryPoints, BlockReadErrors) {
  OpenWithCard(0);
  BlockReadCall otherCard(CardIdm(1), kFelicaNumberService, kBlockZero);
  EXPECT_EQ(otherCard.Run(), 0);
  EXPECT_EQ(LastErrors(), Errors(1049, 100));

  BlockReadCall unknownService(CardIdm(0), {0x34, 0x12}, kBlockZero);
  EXPECT_EQ(unknownService.Run(), 0);
  EXPECT_EQ(LastErrors(), Errors(1042, 159));
  BlockReadCall noSuchBlock(CardIdm(0), kFelicaNumberService, {0x80, 0x09});
  EXPECT_EQ(noSuchBlock.Run(), 0);
  EXPECT_EQ(LastErrors(), Errors(1042, 159));

  sim_place_card(2); // common area without service 33CB
  BlockReadCall lacking(CardIdm(2), kFelicaNumberService, kBlockZero);
  EXPECT_EQ(lacking.Run(), 0);
  EXPECT_EQ(LastErrors(), Errors(1042, 159));
  EXPECT_EQ(lacking.count, 2);
  EXPECT_EQ(lacking.data[0], 0);

  sim_remove_card();
  BlockReadCall gone(CardIdm(0), kFelicaNumberService, kBlockZero);
  EXPECT_EQ(gone.Run(), 0);
  EXPECT_EQ(LastErrors(), Errors(1040, 157));

  sim_place_card(0);
  ASSERT_EQ(Lib().close(), 1);
  BlockReadCall closed(CardIdm(0), kFelicaNumberService, kBlockZero);
  EXPECT_EQ(closed.Run(), 0);
  EXPECT_EQ(LastErrors(), Errors(1029, 120));
}

TEST_F(EntryPoints, BlockReadNeverWritesPastTheRoomOrFollowsNullPointers) {
  OpenWithCard(0);
  // Three blocks asked for with room for two: refused, nothing written.
  BlockReadCall tooMany(CardIdm(0), kFelicaNumberService, {0x80, 0x00, 0x80, 0x01, 0x80, 0x00});
  tooMany.count = 2;
  EXPECT_EQ(tooMany.Run(), 0);
  EXPECT_EQ(LastErrors(), Errors(1002, 102));
  EXPECT_EQ(tooMany.count, 2);
  EXPECT_EQ(tooMany.data[0], 0);

  BlockReadCall serviceIndexOutOfList(CardIdm(0), kFelicaNumberService, {0x81, 0x00});
  EXPECT_EQ(serviceIndexOutOfList.Run(), 0);
  EXPECT_EQ(LastErrors(), Errors(1002, 102));
  BlockReadCall noServices(CardIdm(0), {}, kBlockZero);
  EXPECT_EQ(noServices.Run(), 0);
  EXPECT_EQ(LastErrors(), Errors(1002, 102));

  for (int field : {0, 8, 16}) {
    BlockReadCall read(CardIdm(0), kFelicaNumberService, kBlockZero);
    PutU32(read.params + field, 0);
    EXPECT_EQ(read.Run(), 0) << "params field " << field;
    EXPECT_EQ(LastErrors(), Errors(1002, 102));
  }
  for (int field : {0, 4, 8, 12}) {
    BlockReadCall read(CardIdm(0), kFelicaNumberService, kBlockZero);
    PutU32(read.outputs + field, 0);
    EXPECT_EQ(read.Run(), 0) << "outputs field " << field;
    EXPECT_EQ(LastErrors(), Errors(1002, 102));
    EXPECT_TRUE(read.GuardUntouched());
  }
  BlockReadCall read(CardIdm(0), kFelicaNumberService, kBlockZero);
  EXPECT_EQ(Lib().readBlock(nullptr, read.outputs), 0);
  EXPECT_EQ(Lib().readBlock(read.params, nullptr), 0);
  EXPECT_EQ(LastErrors(), Errors(1002, 102));
  EXPECT_EQ(read.Run(), 1);
}

TEST_F(EntryPoints, CallbackAndPollingStateErrors) {
  HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  PollingRecord any(0xFF, 0xFF);
  ASSERT_EQ(Lib().initialize(), 1);
  EXPECT_EQ(Lib().startPolling(any.bytes), 0);
  EXPECT_EQ(LastErrors(), Errors(1029, 120));
  ASSERT_EQ(Lib().open(), 1);
  EXPECT_EQ(Lib().startPolling(any.bytes), 0);
  EXPECT_EQ(LastErrors(), Errors(1034, 163));
  EXPECT_EQ(Lib().stopPolling(), 0);
  EXPECT_EQ(LastErrors(), Errors(1035, 100));

  EXPECT_EQ(Lib().setCallback(nullptr), 0);
  EXPECT_EQ(LastErrors(), Errors(1002, 102));
  CallbackRecord noWindow(reinterpret_cast<HWND>(0x1234));
  EXPECT_EQ(Lib().setCallback(noWindow.bytes), 0);
  CallbackRecord emptyName(window, "");
  EXPECT_EQ(Lib().setCallback(emptyName.bytes), 0);
  CallbackRecord longName(window, "FelicaAPI_callback_find", std::string(300, 'x'));
  EXPECT_EQ(Lib().setCallback(longName.bytes), 0);
  CallbackRecord nullName(window);
  PutU32(nullName.bytes + 8, 0);
  EXPECT_EQ(Lib().setCallback(nullName.bytes), 0);
  EXPECT_EQ(LastErrors(), Errors(1002, 102));
  EXPECT_EQ(Lib().startPolling(any.bytes), 0);
  EXPECT_EQ(LastErrors(), Errors(1034, 163));

  CallbackRecord callback(window);
  ASSERT_EQ(Lib().setCallback(callback.bytes), 1);
  EXPECT_EQ(Lib().startPolling(nullptr), 0);
  EXPECT_EQ(LastErrors(), Errors(1002, 102));
  ASSERT_EQ(Lib().startPolling(any.bytes), 1);
  EXPECT_EQ(sim_is_polling(), 1);
  EXPECT_EQ(Lib().startPolling(any.bytes), 0);
  EXPECT_EQ(LastErrors(), Errors(1055, 100));
  EXPECT_EQ(Lib().stopPolling(), 1);
  EXPECT_EQ(sim_is_polling(), 0);
  EXPECT_EQ(Lib().stopPolling(), 0);
  EXPECT_EQ(LastErrors(), Errors(1035, 100));

  // Closing the reader ends polling; disposing forgets the callback parameters.
  ASSERT_EQ(Lib().startPolling(any.bytes), 1);
  ASSERT_EQ(Lib().close(), 1);
  EXPECT_EQ(sim_is_polling(), 0);
  ASSERT_EQ(Lib().dispose(), 1);
  ASSERT_EQ(Lib().initialize(), 1);
  ASSERT_EQ(Lib().open(), 1);
  EXPECT_EQ(Lib().startPolling(any.bytes), 0);
  EXPECT_EQ(LastErrors(), Errors(1034, 163));
  DestroyWindow(window);
}

TEST_F(EntryPoints, ErrorQueryKeepsTheLastFailureAndCanBeMadeToFail) {
  ASSERT_EQ(Lib().initialize(), 1);
  EXPECT_EQ(LastErrors(), Errors(1000, 100)); // nothing failed yet
  EXPECT_EQ(Lib().close(), 0);
  EXPECT_EQ(Lib().open(), 1); // a success does not clear the record
  EXPECT_EQ(LastErrors(), Errors(1029, 120));
  EXPECT_EQ(LastErrors(), Errors(1029, 120));

  sim_fail_error_query(1);
  int32_t felicaType = 5, rwType = 6;
  EXPECT_EQ(Lib().errorTypes(&felicaType, &rwType), 0);
  EXPECT_EQ(felicaType, 5);
  EXPECT_EQ(rwType, 6);
  sim_fail_error_query(0);
  EXPECT_EQ(LastErrors(), Errors(1029, 120));

  EXPECT_EQ(Lib().errorTypes(nullptr, &rwType), 0);
  EXPECT_EQ(LastErrors(), Errors(1002, 102));
}

TEST_F(EntryPoints, InjectedFailuresOnceAlwaysAndCleared) {
  EXPECT_EQ(sim_fail("no_such_entry", 1001, 101, 1), 0);
  EXPECT_EQ(sim_fail(nullptr, 1001, 101, 1), 0);

  ASSERT_EQ(sim_fail("initialize_library", 1025, 0, 1), 1);
  EXPECT_EQ(Lib().initialize(), 0);
  EXPECT_EQ(sim_is_initialized(), 0);
  ASSERT_EQ(Lib().initialize(), 1);
  EXPECT_EQ(LastErrors(), Errors(1025, 0));

  ASSERT_EQ(Lib().open(), 1);
  sim_place_card(0);
  ASSERT_EQ(sim_fail("polling_and_get_card_information", 1053, 152, -1), 1);
  for (int i = 0; i < 3; ++i) {
    PollCall poll;
    EXPECT_EQ(poll.Run(), 0);
    EXPECT_EQ(poll.count, 0);
    EXPECT_EQ(LastErrors(), Errors(1053, 152));
  }
  ASSERT_EQ(sim_fail("polling_and_get_card_information", 1036, 157, 2), 1); // replaces the earlier one
  PollCall first, second, third;
  EXPECT_EQ(first.Run(), 0);
  EXPECT_EQ(second.Run(), 0);
  EXPECT_EQ(third.Run(), 1);

  ASSERT_EQ(sim_fail("close_reader_writer", 1031, 152, -1), 1);
  sim_clear_failures();
  EXPECT_EQ(Lib().close(), 1);

  ASSERT_EQ(sim_fail("get_last_error_types", 1001, 101, 1), 1);
  int32_t felicaType = 0, rwType = 0;
  EXPECT_EQ(Lib().errorTypes(&felicaType, &rwType), 0);
  EXPECT_EQ(felicaType, 0);
  EXPECT_EQ(LastErrors(), Errors(1001, 101));
}

TEST_F(EntryPoints, LogRecordsEveryCallWithDecodedArguments) {
  HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  OpenWithCard(0);
  PollCall poll;
  poll.Run(0xFE, 0x00);
  BlockReadCall read(CardIdm(0), kFelicaNumberService, kBlockZero);
  read.Run();
  CallbackRecord callback(window);
  Lib().setCallback(callback.bytes);
  PollingRecord any(0xFF, 0xFF);
  Lib().startPolling(any.bytes);
  Lib().stopPolling();
  LastErrors();
  Lib().polling(nullptr, nullptr, poll.buffers);
  Lib().close();
  Lib().dispose();
  Lib().dispose();

  char handle[9];
  wsprintfA(handle, "%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(window)));
  const std::vector<std::string> expected = {
      "initialize_library -> 1",
      "open_reader_writer_auto -> 1",
      "polling_and_get_card_information system=FE00 slot=0 -> 1",
      "read_block_without_encryption idm=012E4C8A1B3D5F70 services=1 service_list=CB33 blocks=1 block_list=8000 "
      "block_count_in=2 -> 1",
      std::string("set_call_back_parameters hwnd=") + handle +
          " find=FelicaAPI_callback_find loss=FelicaAPI_callback_loss p1=0 p2=1 -> 1",
      "start_polling system=FFFF slot=0 -> 1",
      "stop_polling -> 1",
      "get_last_error_types -> 1",
      "polling_and_get_card_information params=null count=null -> 0",
      "close_reader_writer -> 1",
      "dispose_library -> 1",
      "dispose_library -> 0",
  };
  EXPECT_EQ(LogLines(), expected);
  EXPECT_EQ(sim_call_count("dispose_library"), 2);
  EXPECT_EQ(sim_call_count("polling_and_get_card_information"), 2);
  EXPECT_EQ(sim_call_count("initialize"), 0);

  char small[8];
  EXPECT_EQ(sim_log_line(0, small, sizeof small), 23);
  EXPECT_STREQ(small, "initial");
  EXPECT_EQ(sim_log_line(12, small, sizeof small), -1);
  EXPECT_EQ(sim_log_line(-1, small, sizeof small), -1);
  EXPECT_EQ(sim_log_line(1, nullptr, 0), 28);
  sim_log_clear();
  EXPECT_EQ(sim_log_count(), 0);
  EXPECT_EQ(sim_call_count("dispose_library"), 0);
  DestroyWindow(window);
}

} // namespace
