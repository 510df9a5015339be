#include <gtest/gtest.h>

#include "MainFormText.h"

namespace {

const std::wstring Sep = L"--<詳細>----------------------------------------------";
const std::wstring Desc = L"FelicaAPIでエラーが発生しました。\r\nfuncName         [OpenReaderWriterAuto]";

} // namespace

TEST(MainFormTitle, PutsMajorAndMinorAfterVerWithoutBlankOrLeadingZeros) {
  EXPECT_EQ(MainFormTitle(1, 1), L"Varnelo (ver1.1)");
  EXPECT_EQ(MainFormTitle(2, 10), L"Varnelo (ver2.10)");
  EXPECT_EQ(MainFormTitle(1, 0), L"Varnelo (ver1.0)");
}

TEST(ErrorMessageText, SeparatorIsFiftyTwoCharacters) { EXPECT_EQ(Sep.size(), 52u); }

TEST(ErrorMessageText, OperationErrorPutsLocationAfterTheFirstLine) {
  FelicaError error{513, L"FelicaAPI", Desc};
  EXPECT_EQ(ErrorMessageText(error, L""),
            L"FeliCaカードリーダーの操作でエラーが発生しました。\r\n\r\n" + Sep + L"\r\n" + Desc);
  EXPECT_EQ(ErrorMessageText(error, L"BtnPoll"),
            L"FeliCaカードリーダーの操作でエラーが発生しました。\r\nエラー発生箇所：BtnPoll\r\n\r\n" + Sep + L"\r\n" +
                Desc);
}

TEST(ErrorMessageText, InstallAndReaderErrorsNeverShowTheLocation) {
  EXPECT_EQ(ErrorMessageText({514, L"FelicaAPI", Desc}, L"X"),
            L"FeliCaリーダー／ライターソフトウェアがインストールされていない可能性があります。\r\n\r\n" + Sep +
                L"\r\n" + Desc);
  EXPECT_EQ(ErrorMessageText({515, L"FelicaAPI", Desc}, L"X"),
            L"FeliCaカードリーダが接続されていないか、\r\n"
            L"カードリーダーにアクセスしているアプリケーションが存在します。\r\n\r\n" +
                Sep + L"\r\n" + Desc);
}

TEST(ErrorMessageText, EmptyDescriptionEndsWithSeparatorAndLineBreak) {
  for (int32_t number : {513, 514, 515}) {
    std::wstring text = ErrorMessageText({number, L"FelicaAPI", L""}, L"");
    EXPECT_EQ(text.substr(text.size() - Sep.size() - 2), Sep + L"\r\n") << number;
  }
  EXPECT_EQ(ErrorMessageText({6, L"Varnelo", L""}, L""),
            L"内部エラーが発生しました。\r\n\r\n" + Sep + L"\r\n(エラーコード：6)");
}

TEST(ErrorMessageText, AnythingElseIsAnInternalErrorWithItsNumber) {
  const std::wstring head = L"内部エラーが発生しました。\r\n\r\n" + Sep + L"\r\n";
  // The access layer's source with a number it never raises.
  EXPECT_EQ(ErrorMessageText({516, L"FelicaAPI", L"D"}, L""), head + L"D(エラーコード：516)");
  // 513 from any other source; the source is compared case-sensitively.
  EXPECT_EQ(ErrorMessageText({513, L"Varnelo", L"D"}, L""), head + L"D(エラーコード：513)");
  EXPECT_EQ(ErrorMessageText({514, L"felicaapi", L"D"}, L""), head + L"D(エラーコード：514)");
  // A runtime error of the program itself, with the location after the number.
  EXPECT_EQ(ErrorMessageText({6, L"Varnelo", L"オーバーフローしました。"}, L"Form_Load"),
            head + L"オーバーフローしました。(エラーコード：6)\r\nエラー発生箇所：Form_Load");
  EXPECT_EQ(ErrorMessageText({-2147024894, L"Varnelo", L"D"}, L""), head + L"D(エラーコード：-2147024894)");
}
