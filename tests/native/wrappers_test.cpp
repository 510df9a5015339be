// The tolerance decisions of every library call of the access layer, over the fake library:
// each call failing with each type that some call tolerates, with one nothing tolerates, and
// with the error query failing too.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "FakeLibrary.h"
#include "felica/FelicaAPI.h"

using namespace FelicaAPI;

namespace {

const std::wstring QueryFailedDescription = L"GetLastErrorTypesが失敗したためエラー情報が取得出来ません。\r\n"
                                            L"FeliCaライブラリが初期化されていない可能性があります。";

// How a call fails: the FeliCa type it leaves behind, or the error query failing as well.
struct Failure {
  int32_t felicaErrorType;
  bool errorQueryFails;
};
// 1006, 1029, 1030 and 1036 are each tolerated somewhere; 1001 nowhere. A failed query still
// writes 1006 into its outputs, which must not be taken for the type.
const Failure Failures[] = {{1006, false}, {1029, false}, {1030, false}, {1036, false}, {1001, false}, {1006, true}};

// The raised number (0: the call returns normally) and how often the error types were queried.
struct Outcome {
  int32_t number;
  int32_t queries;
};

struct Row {
  const wchar_t* name;
  Fake::Entry entry;
  std::function<void()> call;
  Outcome outcomes[std::size(Failures)];
};

const uint8_t Idm[8] = {1, 2, 3, 4, 5, 6, 7, 8};

const Row Rows[] = {
    {L"InitializeLibrary", Fake::Initialize, InitializeLibrary,
     {{0, 1}, {514, 2}, {514, 2}, {514, 2}, {514, 2}, {514, 2}}},
    {L"DisposeLibrary", Fake::Dispose, DisposeLibrary, {{513, 2}, {513, 2}, {513, 2}, {513, 2}, {513, 2}, {0, 1}}},
    {L"OpenReaderWriterAuto", Fake::Open, OpenReaderWriterAuto,
     {{515, 2}, {515, 2}, {0, 1}, {515, 2}, {515, 2}, {515, 2}}},
    {L"CloseReaderWriter", Fake::Close, CloseReaderWriter, {{513, 3}, {0, 2}, {513, 3}, {513, 3}, {513, 3}, {0, 1}}},
    {L"StopPolling", Fake::StopPolling, StopPolling, {{513, 1}, {513, 1}, {513, 1}, {513, 1}, {513, 1}, {513, 1}}},
    {L"PollingAndGetCardInformation", Fake::Poll, [] { PollAnyCard(); },
     {{513, 2}, {513, 2}, {513, 2}, {0, 1}, {513, 2}, {513, 2}}},
    {L"ReadBlockWithoutEncryption", Fake::BlockRead, [] { ReadBlock(Idm, 0xCB, 0x33, 0x80, 0x00); },
     {{513, 1}, {513, 1}, {513, 1}, {513, 1}, {513, 1}, {513, 1}}},
};

class Tolerance : public ::testing::Test {
protected:
  void SetUp() override { Fake::Reset(); }
};

} // namespace

TEST_F(Tolerance, EveryCallOfTheAccessLayerToleratesExactlyItsOwnTypes) {
  int32_t cells = 0;
  for (const Row& row : Rows) {
    for (size_t f = 0; f < std::size(Failures); ++f) {
      const Failure failure = Failures[f];
      const Outcome expected = row.outcomes[f];
      SCOPED_TRACE(testing::Message() << std::string(row.name, row.name + std::wcslen(row.name)) << " with "
                                      << failure.felicaErrorType << (failure.errorQueryFails ? ", query failing" : ""));
      Fake::Reset();
      Fake::scripts[row.entry] = {false, failure.felicaErrorType, 152, failure.errorQueryFails, 0};

      int32_t number = 0;
      std::wstring source, description;
      try {
        row.call();
      } catch (const FelicaError& error) {
        number = error.Number;
        source = error.Source;
        description = error.Description;
      }
      ++cells;
      EXPECT_EQ(number, expected.number);
      EXPECT_EQ(Fake::Calls(Fake::ErrorQuery), expected.queries);
      // The failed call is the only library call besides the queries.
      EXPECT_EQ(Fake::Calls(row.entry), 1);
      EXPECT_EQ(Fake::LibraryCalls(), 1);
      if (number == 0) {
        continue;
      }
      EXPECT_EQ(source, L"FelicaAPI");
      if (failure.errorQueryFails) {
        EXPECT_EQ(description, QueryFailedDescription);
      } else {
        EXPECT_NE(description.find(L"\r\nfuncName         [" + std::wstring(row.name) + L"]\r\nFeliCaErrorCode [" +
                                   std::to_wstring(failure.felicaErrorType) + L"] ("),
                  std::wstring::npos)
            << description.size();
        EXPECT_TRUE(description.ends_with(L"\r\nRWErrorCode     [152] (リーダ・ライタからの応答がありません)"));
      }
    }
  }
  EXPECT_EQ(cells, 42);
}

TEST_F(Tolerance, TheSafeReadersSwallowEveryFailure) {
  // A failed call, a failed query, and an entry point missing (for the query: in the middle of the tolerance check).
  const Fake::Script scripts[] = {{false, 1001, 0, false, 0}, {false, 1036, 0, true, 0}, {true, 0, 0, false, 453}};
  for (Fake::Entry entry : {Fake::Poll, Fake::BlockRead, Fake::ErrorQuery}) {
    for (const Fake::Script& script : scripts) {
      Fake::Reset();
      Fake::scripts[entry] = script;
      if (entry == Fake::ErrorQuery) {
        Fake::scripts[Fake::Poll] = {false, 1036, 0, false, 0};
      }
      // A failing block read leaves the polling, and so the IDm, intact.
      EXPECT_EQ(GetIDm(), entry == Fake::BlockRead ? L"0123456789ABCDEF" : L"") << entry << " " << script.raises;
      EXPECT_EQ(GetFelicaNumber(), L"") << entry << " " << script.raises;
    }
  }
}
