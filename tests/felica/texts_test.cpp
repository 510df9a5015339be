// Everything of the access layer that needs no reader library: error texts, descriptions,
// error numbers and the byte helpers.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "felica/ErrorDescription.h"
#include "felica/FelicaAPI.h"

using namespace FelicaAPI;

TEST(ErrorTexts, ValuesOutsideBothTablesAreUndefined) {
  for (int32_t code : {INT32_MIN, -1, 0, 999, 1063, INT32_MAX}) {
    EXPECT_EQ(FelicaErrorText(code), L"未定義") << code;
  }
  for (int32_t code : {INT32_MIN, -1, 0, 99, 176, 1000, INT32_MAX}) {
    EXPECT_EQ(RwErrorText(code), L"未定義") << code;
  }
}

TEST(ErrorTexts, Sample) {
  EXPECT_EQ(FelicaErrorText(1000), L"エラーは発生していません");
  EXPECT_EQ(FelicaErrorText(1041), L"カードへのデータの書き込みに失敗しました");
  EXPECT_EQ(FelicaErrorText(1049),
            L"ポーリングの時に取得したカード IDm と関数引数のカード IDm が一致しなかったため処理を中断しました");
  EXPECT_EQ(FelicaErrorText(1055), L"連続ポーリングはすでに起動しています");
  EXPECT_EQ(FelicaErrorText(1062), L"カードのサービスコードリストの取得に失敗しました");
  EXPECT_EQ(RwErrorText(100), L"エラーは発生していません");
  EXPECT_EQ(RwErrorText(134), L"ポートの初期化に失敗しました");
  EXPECT_EQ(RwErrorText(135), L"ポートのタイムアウトの設定に失敗しました");
  EXPECT_EQ(RwErrorText(148), L"リーダ・ライタから NACK を受信しました");
  EXPECT_EQ(RwErrorText(175), L"カードのサービスコードリストの取得に失敗しました");
}

TEST(ErrorTexts, IrregularWordingsAreKept) {
  EXPECT_EQ(FelicaErrorText(1033), L"カードを見失なったときに送信するメッセージの登録に失敗しました");
  EXPECT_EQ(FelicaErrorText(1060), L"この OS では実装されていいない API です");
  EXPECT_EQ(RwErrorText(173), L"この OS では実装されていいない API です");
  EXPECT_EQ(RwErrorText(157), L"カードを補足することが出来ませんでした");
  // Not the same wording as the FeliCa table's 1004 or 1024 neighbours.
  EXPECT_EQ(FelicaErrorText(1024), L"リトライカウントの値が不正です");
  EXPECT_EQ(RwErrorText(160), L"コミュニケートスルーコマンドに対しての応答がありません");
}

TEST(ErrorTexts, SharedTextsAreTheSameInBothTables) {
  for (int32_t offset = 0; offset <= 23; ++offset) {
    EXPECT_EQ(RwErrorText(100 + offset), FelicaErrorText(1000 + offset)) << offset;
  }
  EXPECT_EQ(RwErrorText(158), FelicaErrorText(1048));
  EXPECT_EQ(RwErrorText(163), FelicaErrorText(1034));
  for (int32_t offset = 0; offset <= 3; ++offset) {
    EXPECT_EQ(RwErrorText(164 + offset), FelicaErrorText(1056 + offset)) << offset;
  }
  for (int32_t offset = 0; offset <= 2; ++offset) {
    EXPECT_EQ(RwErrorText(173 + offset), FelicaErrorText(1060 + offset)) << offset;
  }
  // Where the sharing stops, the tables part.
  EXPECT_NE(RwErrorText(124), FelicaErrorText(1024));
  EXPECT_NE(RwErrorText(157), FelicaErrorText(1047));
  EXPECT_NE(RwErrorText(168), FelicaErrorText(1060));
}

TEST(ErrorDescription, FourLinesNameTheCallAndBothTypes) {
  EXPECT_EQ(ComposeFelicaErrorDescription(L"OpenReaderWriterAuto", 1028, 0),
            L"FelicaAPIでエラーが発生しました。\r\n"
            L"funcName         [OpenReaderWriterAuto]\r\n"
            L"FeliCaErrorCode [1028] (リーダ・ライタを自動認識できません)\r\n"
            L"RWErrorCode     [0] (未定義)");
  EXPECT_EQ(ComposeFelicaErrorDescription(L"StopPolling", -1, 152),
            L"FelicaAPIでエラーが発生しました。\r\n"
            L"funcName         [StopPolling]\r\n"
            L"FeliCaErrorCode [-1] (未定義)\r\n"
            L"RWErrorCode     [152] (リーダ・ライタからの応答がありません)");
  EXPECT_EQ(ComposeFelicaErrorDescription(L"", INT32_MIN, INT32_MAX),
            L"FelicaAPIでエラーが発生しました。\r\n"
            L"funcName         []\r\n"
            L"FeliCaErrorCode [-2147483648] (未定義)\r\n"
            L"RWErrorCode     [2147483647] (未定義)");
}

TEST(ErrorDescription, TwoLinesWhenTheErrorQueryFailed) {
  EXPECT_EQ(ComposeErrorQueryFailedDescription(),
            L"GetLastErrorTypesが失敗したためエラー情報が取得出来ません。\r\n"
            L"FeliCaライブラリが初期化されていない可能性があります。");
}

TEST(ErrorNumber, KindPlus513UpToTheSixteenBitLimit) {
  EXPECT_EQ(FelicaErrorNumber(ErrorKindOperation), 513);
  EXPECT_EQ(FelicaErrorNumber(ErrorKindInstall), 514);
  EXPECT_EQ(FelicaErrorNumber(ErrorKindReader), 515);
  EXPECT_EQ(FelicaErrorNumber(-600), -87);
  EXPECT_EQ(FelicaErrorNumber(INT16_MIN), INT16_MIN + 513);
  EXPECT_EQ(FelicaErrorNumber(32254), 32767);
}

TEST(ErrorNumber, KindAbove32254IsAnOverflow) {
  for (int16_t kind : {int16_t{32255}, int16_t{INT16_MAX}}) {
    try {
      FelicaErrorNumber(kind);
      ADD_FAILURE() << "no error for kind " << kind;
    } catch (const FelicaError& error) {
      EXPECT_EQ(error.Number, ErrOverflow);
      EXPECT_EQ(error.Source, L"Varnelo");
      EXPECT_FALSE(error.Description.empty());
    }
  }
}

TEST(BytesToHex, CountsAndMinimumLength) {
  const std::vector<uint8_t> bytes{0x01, 0x2A, 0xFF, 0x00};
  EXPECT_EQ(BytesToHex(bytes, 0, 0), L"012AFF00");
  EXPECT_EQ(BytesToHex(bytes, 2, 0), L"012A");
  EXPECT_EQ(BytesToHex(bytes, 4, 4), L"012AFF00");
  EXPECT_EQ(BytesToHex(bytes, 9, 0), L"012AFF00");
  EXPECT_EQ(BytesToHex(bytes, 0, 5), L"");
  EXPECT_EQ(BytesToHex(bytes, -1, -1), L"012AFF00");
  EXPECT_EQ(BytesToHex({}, 0, 0), L"");
  EXPECT_EQ(BytesToHex({}, 8, 8), L"");
}

TEST(BytesToHex, EveryByteGivesTwoUpperCaseDigits) {
  const std::vector<uint8_t> bytes{0x00, 0x0F, 0x10, 0xAB, 0xFE, 0x09, 0xA0};
  EXPECT_EQ(BytesToHex(bytes, 0, 0), L"000F10ABFE09A0");
}

TEST(BytesToHex, IdmRenderingNeedsEightBytesAndStopsAtEight) {
  const std::vector<uint8_t> seven{1, 2, 3, 4, 5, 6, 7};
  EXPECT_EQ(BytesToHex(seven, 8, 8), L"");
  const std::vector<uint8_t> sixteen{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(BytesToHex(sixteen, 8, 8), L"0123456789ABCDEF");
}

TEST(CopyBytes, CopiesByIndexIntoALargerDestination) {
  const std::vector<uint8_t> source{9, 8, 7};
  std::vector<uint8_t> destination{1, 1, 1, 1};
  CopyBytes(source, destination);
  EXPECT_EQ(destination, (std::vector<uint8_t>{9, 8, 7, 1}));
  CopyBytes({}, destination);
  EXPECT_EQ(destination, (std::vector<uint8_t>{9, 8, 7, 1}));
}

TEST(CopyBytes, SourceBeyondTheDestinationIsASubscriptErrorAndWritesNothing) {
  const std::vector<uint8_t> source{9, 8, 7};
  std::vector<uint8_t> destination{1, 1};
  try {
    CopyBytes(source, destination);
    ADD_FAILURE() << "no error";
  } catch (const FelicaError& error) {
    EXPECT_EQ(error.Number, ErrSubscriptOutOfRange);
    EXPECT_EQ(error.Source, L"Varnelo");
  }
  EXPECT_EQ(destination, (std::vector<uint8_t>{1, 1}));
}
