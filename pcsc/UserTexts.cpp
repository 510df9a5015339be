#include "UserTexts.h"

#include "Console.h"

namespace pcsc {

std::string Text(UserText text, bool japanese) {
  switch (text) {
  case UserText::Waiting:
    return japanese ? "カードを待っています。かざしたカードの IDm を、いま入力できるウィンドウに入力します。"
                      "終了するには Ctrl+C を押してください。"
                    : "Waiting for cards. Each card's IDm is typed into the window that has the keyboard focus. "
                      "Press Ctrl+C to stop.";
  case UserText::TypingUnavailable:
    return japanese ? "この環境ではキーボード入力はできません。カードの IDm を表示するには varnelo-reader watch を"
                      "使ってください（--csv FILE で一覧も残せます）。"
                    : "Typing is not available on this system. Use varnelo-reader watch to show each card's IDm "
                      "(--csv FILE keeps a list).";
  case UserText::Refused:
    return japanese ? "IDm を入力できませんでした。前面のウィンドウは、より高い権限で動いているため入力を受け付けません"
                      "（管理者として実行中のアプリなど）。varnelo-reader も同じ権限で起動するか、別のウィンドウを"
                      "選んでください。"
                    : "The IDm was not typed: the window in front runs with higher rights (as administrator, say) "
                      "and refuses input. Start varnelo-reader the same way, or choose another window.";
  case UserText::OwnConsole:
    return japanese ? "IDm を入力しませんでした。この画面にフォーカスがあります。入力先のアプリの入力欄をクリックして"
                      "ください。"
                    : "The IDm was not typed: this console has the focus. Click the field of the program to type into.";
  case UserText::TypingFailed:
    return japanese ? "IDm を入力できませんでした。エラー:" : "The IDm could not be typed. Error:";
  case UserText::CsvInUse:
    return japanese ? "CSV ファイルを開けません。ほかのプログラム（表計算ソフトなど）が書き込みを禁止して開いています。"
                      "そちらで閉じてから、やり直してください:"
                    : "Cannot open the CSV file: another program (a spreadsheet, say) holds it against writing. "
                      "Close it there and try again:";
  case UserText::CsvOpenFailed:
    return japanese ? "CSV ファイルを開けません。エラー:" : "Cannot open the CSV file. Error:";
  case UserText::CsvWriteFailed:
    return japanese ? "CSV ファイルに書き込めませんでした。エラー:" : "Could not write to the CSV file. Error:";
  }
  return "";
}

void Tell(UserText text, const std::string& detail) {
  static const bool japanese = console::UserLanguageIsJapanese();
  console::Line(console::Stream::Err, detail.empty() ? Text(text, japanese) : Text(text, japanese) + " " + detail);
}

} // namespace pcsc
