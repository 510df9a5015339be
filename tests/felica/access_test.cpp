// The access layer against the simulated reader library, through its real entry points.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "felica/FelicaAPI.h"
#include "caught_error.h"
#include "sim_control.h"

using namespace FelicaAPI;

namespace {

const uint8_t CardIdm[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
const uint8_t CardPmm[8] = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};
const uint8_t CardBlock0[16] = {0xA0, 0x01, 0x02, 0x0F, 0x10, 0xFF, 0x5A, 0x00,
                                0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};

std::vector<std::string> Log() {
  std::vector<std::string> lines;
  for (int32_t i = 0; i < sim_log_count(); ++i) {
    char line[2048] = {};
    sim_log_line(i, line, sizeof line);
    lines.emplace_back(line);
  }
  return lines;
}

int32_t ErrorQueries() { return sim_call_count("get_last_error_types"); }

class Access : public ::testing::Test {
protected:
  void SetUp() override { sim_reset(); }
  void TearDown() override { sim_reset(); }

  // Library initialised and reader open, as the window holds them for a read.
  static void Open() {
    InitializeLibrary();
    OpenReaderWriterAuto();
    sim_log_clear();
  }

  static void PlaceCard() { sim_place_custom_card(CardIdm, CardPmm, 1, CardBlock0); }
};

using Wrappers = Access;
using Polling = Access;
using BlockRead = Access;

} // namespace

TEST_F(Wrappers, SucceedingCallsNeverQueryTheErrorTypes) {
  InitializeLibrary();
  OpenReaderWriterAuto();
  EXPECT_EQ(sim_is_reader_open(), 1);
  CloseReaderWriter();
  DisposeLibrary();
  EXPECT_EQ(sim_is_initialized(), 0);
  EXPECT_EQ(ErrorQueries(), 0);
}

TEST_F(Wrappers, InitializeLibraryTwiceIsTolerated) {
  InitializeLibrary();
  EXPECT_NO_THROW(InitializeLibrary());
  EXPECT_EQ(sim_is_initialized(), 1);
  EXPECT_EQ(ErrorQueries(), 1);
}

TEST_F(Wrappers, InitializeLibraryRaises514) {
  // Not initialised yet, so the library can't tell what went wrong.
  sim_fail("initialize_library", 1003, 103, 1);
  FelicaError error = CaughtError(InitializeLibrary);
  EXPECT_EQ(error.Number, 514);
  EXPECT_EQ(error.Source, L"FelicaAPI");
  EXPECT_EQ(error.Description, L"GetLastErrorTypesが失敗したためエラー情報が取得出来ません。\r\n"
                               L"FeliCaライブラリが初期化されていない可能性があります。");
  EXPECT_EQ(ErrorQueries(), 2);

  InitializeLibrary();
  sim_fail("initialize_library", 1003, 103, 1);
  EXPECT_EQ(CaughtError(InitializeLibrary).Description, L"FelicaAPIでエラーが発生しました。\r\n"
                                                        L"funcName         [InitializeLibrary]\r\n"
                                                        L"FeliCaErrorCode [1003] (メモリの確保が出来ません)\r\n"
                                                        L"RWErrorCode     [103] (メモリの確保が出来ません)");
}

TEST_F(Wrappers, OpenReaderWriterAutoWithoutAReaderRaises515) {
  InitializeLibrary();
  sim_attach_reader(0);
  FelicaError error = CaughtError(OpenReaderWriterAuto);
  EXPECT_EQ(error.Number, 515);
  EXPECT_EQ(error.Source, L"FelicaAPI");
  EXPECT_EQ(error.Description.substr(0, error.Description.find(L"\r\nRWErrorCode     [")),
            L"FelicaAPIでエラーが発生しました。\r\n"
            L"funcName         [OpenReaderWriterAuto]\r\n"
            L"FeliCaErrorCode [1028] (リーダ・ライタを自動認識できません)");

  sim_fail("open_reader_writer_auto", 1028, 0, 1);
  EXPECT_EQ(CaughtError(OpenReaderWriterAuto).Description,
            L"FelicaAPIでエラーが発生しました。\r\n"
            L"funcName         [OpenReaderWriterAuto]\r\n"
            L"FeliCaErrorCode [1028] (リーダ・ライタを自動認識できません)\r\n"
            L"RWErrorCode     [0] (未定義)");
}

TEST_F(Wrappers, OpenReaderWriterAutoTwiceIsTolerated) {
  InitializeLibrary();
  OpenReaderWriterAuto();
  EXPECT_NO_THROW(OpenReaderWriterAuto());
  EXPECT_EQ(sim_is_reader_open(), 1);
}

TEST_F(Wrappers, CloseReaderWriterThatIsNotOpenIsTolerated) {
  InitializeLibrary();
  EXPECT_NO_THROW(CloseReaderWriter());
  // First against a failed query, then against 1029.
  EXPECT_EQ(ErrorQueries(), 2);
}

TEST_F(Wrappers, CloseReaderWriterBeforeInitialisingIsTolerated) {
  EXPECT_NO_THROW(CloseReaderWriter());
  EXPECT_EQ(ErrorQueries(), 1);
}

TEST_F(Wrappers, CloseReaderWriterWithAnotherTypeRaises513) {
  Open();
  sim_fail("close_reader_writer", 1027, 153, 1);
  FelicaError error = CaughtError(CloseReaderWriter);
  EXPECT_EQ(error.Number, 513);
  EXPECT_EQ(error.Source, L"FelicaAPI");
  EXPECT_EQ(error.Description, L"FelicaAPIでエラーが発生しました。\r\n"
                               L"funcName         [CloseReaderWriter]\r\n"
                               L"FeliCaErrorCode [1027] (リーダ・ライタのオープンに失敗しました)\r\n"
                               L"RWErrorCode     [153] (リーダ・ライタへのデータの送信に失敗しました)");
  EXPECT_EQ(ErrorQueries(), 3);
}

TEST_F(Wrappers, DisposeLibraryWhoseErrorQueryFailsIsTolerated) {
  EXPECT_NO_THROW(DisposeLibrary());
  EXPECT_EQ(ErrorQueries(), 1);

  InitializeLibrary();
  sim_fail("dispose_library", 1001, 101, 1);
  sim_fail_error_query(1);
  EXPECT_NO_THROW(DisposeLibrary());
}

TEST_F(Wrappers, DisposeLibraryWithAKnownTypeRaises513) {
  InitializeLibrary();
  sim_fail("dispose_library", 1053, 0, 1);
  FelicaError error = CaughtError(DisposeLibrary);
  EXPECT_EQ(error.Number, 513);
  EXPECT_NE(error.Description.find(L"funcName         [DisposeLibrary]\r\n"), std::wstring::npos);
  EXPECT_EQ(ErrorQueries(), 2);
}

TEST_F(Wrappers, StopPollingToleratesNothingAndShowsNegativeTypes) {
  Open();
  sim_fail("stop_polling", -5, -100, 1);
  FelicaError error = CaughtError(StopPolling);
  EXPECT_EQ(error.Number, 513);
  EXPECT_EQ(error.Description, L"FelicaAPIでエラーが発生しました。\r\n"
                               L"funcName         [StopPolling]\r\n"
                               L"FeliCaErrorCode [-5] (未定義)\r\n"
                               L"RWErrorCode     [-100] (未定義)");
  EXPECT_EQ(ErrorQueries(), 1);
}

TEST_F(Wrappers, AFailedErrorQueryGivesTheTwoLineDescription) {
  const std::wstring twoLines = L"GetLastErrorTypesが失敗したためエラー情報が取得出来ません。\r\n"
                                L"FeliCaライブラリが初期化されていない可能性があります。";
  Open();
  sim_fail_error_query(1);

  sim_fail("stop_polling", 1001, 101, 1);
  FelicaError error = CaughtError(StopPolling);
  EXPECT_EQ(error.Number, 513);
  EXPECT_EQ(error.Source, L"FelicaAPI");
  EXPECT_EQ(error.Description, twoLines);

  // Without a readable type even "already initialised" can't be recognised.
  sim_fail("initialize_library", 1006, 0, 1);
  error = CaughtError(InitializeLibrary);
  EXPECT_EQ(error.Number, 514);
  EXPECT_EQ(error.Description, twoLines);

  sim_fail("open_reader_writer_auto", 1030, 0, 1);
  EXPECT_EQ(CaughtError(OpenReaderWriterAuto).Number, 515);
}

TEST_F(Wrappers, LastFelicaErrorTypeQueriesOnceAndGivesMinusOneWhenTheQueryFails) {
  InitializeLibrary();
  sim_fail("stop_polling", 1040, 155, 1);
  EXPECT_THROW(StopPolling(), FelicaError);
  sim_log_clear();
  EXPECT_EQ(LastFelicaErrorType(), 1040);
  EXPECT_EQ(ErrorQueries(), 1);
  sim_fail_error_query(1);
  EXPECT_EQ(LastFelicaErrorType(), -1);
}

TEST_F(Wrappers, RaiseFelicaErrorWithAnOverflowingKindQueriesNothing) {
  InitializeLibrary();
  FelicaError error = CaughtError([] { RaiseFelicaError(L"X", 32255); });
  EXPECT_EQ(error.Number, 6);
  EXPECT_EQ(error.Source, L"Varnelo");
  EXPECT_EQ(ErrorQueries(), 0);
}

TEST_F(Polling, NoCardGivesCountZeroAndEmptyTexts) {
  Open();
  CardInformation card = PollCard(0xFF, 0xFF, 0);
  EXPECT_EQ(card.CardCount, 0);
  EXPECT_EQ(std::vector<uint8_t>(card.IDm, card.IDm + 8), std::vector<uint8_t>(8, 0));
  EXPECT_EQ(ReadIDm(), L"");
  EXPECT_EQ(GetIDm(), L"");
}

TEST_F(Polling, ACardGivesItsIdmAndPmm) {
  Open();
  PlaceCard();
  CardInformation card = PollAnyCard();
  EXPECT_EQ(card.CardCount, 1);
  EXPECT_EQ(std::vector<uint8_t>(card.IDm, card.IDm + 8), std::vector<uint8_t>(CardIdm, CardIdm + 8));
  EXPECT_EQ(std::vector<uint8_t>(card.PMm, card.PMm + 8), std::vector<uint8_t>(CardPmm, CardPmm + 8));
  EXPECT_EQ(Log(), std::vector<std::string>{"polling_and_get_card_information system=FFFF slot=0 -> 1"});
  EXPECT_EQ(ReadIDm(), L"0123456789ABCDEF");
  EXPECT_EQ(GetIDm(), L"0123456789ABCDEF");
}

TEST_F(Polling, AnotherFailureRaises513NamingThePolling) {
  Open();
  PlaceCard();
  sim_fail("polling_and_get_card_information", 1053, 150, 1);
  FelicaError error = CaughtError([] { ReadIDm(); });
  EXPECT_EQ(error.Number, 513);
  EXPECT_EQ(error.Source, L"FelicaAPI");
  EXPECT_EQ(error.Description, L"FelicaAPIでエラーが発生しました。\r\n"
                               L"funcName         [PollingAndGetCardInformation]\r\n"
                               L"FeliCaErrorCode [1053] (FeliCa アクセスライブラリの API の呼び出しに失敗しました)\r\n"
                               L"RWErrorCode     [150] (リーダ・ライタから不正なパケットを受信しました)");
  EXPECT_EQ(ErrorQueries(), 2);

  sim_fail("polling_and_get_card_information", 1053, 150, 1);
  EXPECT_EQ(GetIDm(), L"");
  // Once the failure has passed, the card is read again.
  EXPECT_EQ(GetIDm(), L"0123456789ABCDEF");
}

TEST_F(Polling, AFailedErrorQueryIsNotTakenForNoCard) {
  Open();
  sim_fail("polling_and_get_card_information", 1036, 0, 1);
  sim_fail_error_query(1);
  FelicaError error = CaughtError([] { PollAnyCard(); });
  EXPECT_EQ(error.Number, 513);
  EXPECT_EQ(error.Description.substr(0, 17), L"GetLastErrorTypes");
}

TEST_F(BlockRead, FelicaNumberPollsTheCommonAreaAndReadsBlockZeroOfThatCard) {
  Open();
  PlaceCard();
  EXPECT_EQ(ReadFelicaNumber(), L"A001020F10FF5A00");
  EXPECT_EQ(Log(), (std::vector<std::string>{
                       "polling_and_get_card_information system=FE00 slot=0 -> 1",
                       "read_block_without_encryption idm=0123456789ABCDEF services=1 service_list=CB33 blocks=1 "
                       "block_list=8000 block_count_in=2 -> 1"}));
  EXPECT_EQ(GetFelicaNumber(), L"A001020F10FF5A00");
}

TEST_F(BlockRead, NoCardInTheCommonAreaGivesEmptyWithoutABlockRead) {
  Open();
  EXPECT_EQ(ReadFelicaNumber(), L"");
  ASSERT_EQ(sim_place_card(1), 1);
  EXPECT_EQ(ReadFelicaNumber(), L"");
  EXPECT_EQ(GetFelicaNumber(), L"");
  EXPECT_EQ(sim_call_count("read_block_without_encryption"), 0);
}

TEST_F(BlockRead, AMissingServiceRaises513NamingTheBlockRead) {
  Open();
  ASSERT_EQ(sim_place_card(2), 1);
  FelicaError error = CaughtError([] { ReadFelicaNumber(); });
  EXPECT_EQ(error.Number, 513);
  EXPECT_EQ(error.Description.substr(0, error.Description.find(L"\r\nRWErrorCode")),
            L"FelicaAPIでエラーが発生しました。\r\n"
            L"funcName         [ReadBlockWithoutEncryption]\r\n"
            L"FeliCaErrorCode [1042] (カードからの鍵のないサービスデータの読み込みに失敗しました)");
  // Nothing is tolerated: the one query is the description's.
  EXPECT_EQ(ErrorQueries(), 1);
  EXPECT_EQ(GetFelicaNumber(), L"");
}

TEST_F(BlockRead, PollingFailureRaisesBeforeAnyBlockRead) {
  Open();
  PlaceCard();
  sim_fail("polling_and_get_card_information", 1047, 0, 1);
  FelicaError error = CaughtError([] { ReadFelicaNumber(); });
  EXPECT_EQ(error.Number, 513);
  EXPECT_NE(error.Description.find(L"[PollingAndGetCardInformation]"), std::wstring::npos);
  EXPECT_EQ(sim_call_count("read_block_without_encryption"), 0);
}

TEST_F(BlockRead, ReadAddressedToAnotherCardRaises) {
  Open();
  PlaceCard();
  const uint8_t otherIdm[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  FelicaError error = CaughtError([&] { ReadBlock(otherIdm, 0xCB, 0x33, 0x80, 0x00); });
  EXPECT_EQ(error.Number, 513);
  EXPECT_NE(error.Description.find(L"FeliCaErrorCode [1049]"), std::wstring::npos) << error.Description.size();
}

TEST_F(BlockRead, ResultHoldsTheWholeBufferAndTheReportedCount) {
  Open();
  PlaceCard();
  PollCard(0xFE, 0x00, 0);
  BlockReadResult result = ReadBlock(CardIdm, 0xCB, 0x33, 0x80, 0x00);
  EXPECT_EQ(result.BlockCount, 1);
  ASSERT_EQ(result.BlockData.size(), 32u);
  EXPECT_EQ(std::vector<uint8_t>(result.BlockData.begin(), result.BlockData.begin() + 16),
            std::vector<uint8_t>(CardBlock0, CardBlock0 + 16));
  EXPECT_EQ(std::vector<uint8_t>(result.BlockData.begin() + 16, result.BlockData.end()), std::vector<uint8_t>(16, 0));
}

TEST_F(BlockRead, ALibraryThatWritesNothingGivesZeroDigits) {
  Open();
  PlaceCard();
  PollCard(0xFE, 0x00, 0);
  sim_misbehave(SIM_SUCCEED_WITHOUT_OUTPUT);
  BlockReadResult result = ReadBlock(CardIdm, 0xCB, 0x33, 0x80, 0x00);
  EXPECT_EQ(result.StatusFlag1, 0);
  EXPECT_EQ(result.StatusFlag2, 0);
  EXPECT_EQ(result.BlockCount, 2);
  EXPECT_EQ(BytesToHex(result.BlockData, 8, 8), L"0000000000000000");
}

TEST_F(BlockRead, AnOverstatedBlockCountReadsNothingBeyondTheBuffer) {
  Open();
  PlaceCard();
  sim_misbehave(SIM_OVERSTATE_BLOCK_COUNT);
  PollCard(0xFE, 0x00, 0);
  BlockReadResult result = ReadBlock(CardIdm, 0xCB, 0x33, 0x80, 0x00);
  EXPECT_GT(result.BlockCount, 2);
  EXPECT_EQ(result.BlockData.size(), 32u);
  EXPECT_EQ(ReadFelicaNumber(), L"A001020F10FF5A00");
}

TEST_F(BlockRead, ListsAreCountedInWholeTwoByteElements) {
  Open();
  PlaceCard();
  PollCard(0xFE, 0x00, 0);
  sim_log_clear();
  const std::vector<uint8_t> services{0xCB, 0x33, 0x77};
  const std::vector<uint8_t> blocks{0x80, 0x00, 0x99};
  BlockReadResult result = ReadBlockWithoutEncryption(CardIdm, services, blocks);
  EXPECT_EQ(result.BlockData.size(), 48u);
  std::vector<std::string> log = Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find(" services=1 "), std::string::npos) << log[0];
  EXPECT_NE(log[0].find(" blocks=1 "), std::string::npos) << log[0];
  EXPECT_NE(log[0].find(" block_count_in=3 "), std::string::npos) << log[0];
}

TEST_F(BlockRead, UnusableListsFailBeforeAnyLibraryCall) {
  Open();
  PlaceCard();
  const std::vector<uint8_t> list2{0xCB, 0x33};
  const std::vector<uint8_t> list255(255, 0x80);
  const std::vector<uint8_t> list256(256, 0x80);
  const std::vector<uint8_t> empty;
  const std::vector<uint8_t> shortIdm(CardIdm, CardIdm + 7);

  struct Case {
    std::span<const uint8_t> idm, services, blocks;
    int32_t number;
  };
  const Case cases[] = {
      {CardIdm, list256, list2, 6},  {CardIdm, list2, list256, 6}, {CardIdm, empty, list2, 9},
      {CardIdm, list2, empty, 9},    {empty, list2, list2, 9},     {shortIdm, list2, list2, 9},
  };
  for (const Case& c : cases) {
    FelicaError error = CaughtError([&] { ReadBlockWithoutEncryption(c.idm, c.services, c.blocks); });
    EXPECT_EQ(error.Number, c.number) << c.idm.size() << " " << c.services.size() << " " << c.blocks.size();
    EXPECT_EQ(error.Source, L"Varnelo");
  }
  EXPECT_EQ(sim_log_count(), 0);

  // 255 bytes still fit: the library is called, with a buffer of 255 blocks.
  try {
    ReadBlockWithoutEncryption(CardIdm, list255, list255);
  } catch (const FelicaError& error) {
    EXPECT_EQ(error.Number, 513);
  }
  ASSERT_EQ(sim_call_count("read_block_without_encryption"), 1);
  EXPECT_NE(Log()[0].find(" services=127 "), std::string::npos) << Log()[0];
  EXPECT_NE(Log()[0].find(" block_count_in=255 "), std::string::npos) << Log()[0];
}
