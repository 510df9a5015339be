// What varnelo-reader tells the person at the desk while it types and keeps the list, in the
// user's language (console::Tell).
#pragma once
#include "Console.h"

namespace pcsc {

// type: waiting, and how to stop
inline constexpr console::Text kTypeWaiting{
    "Waiting for cards. Each card's IDm is typed into the window that has the keyboard focus. "
    "Press Ctrl+C to stop.",
    "カードを待っています。かざしたカードの IDm を、いま入力できるウィンドウに入力します。"
    "終了するには Ctrl+C を押してください。"};
// type where the system cannot type
inline constexpr console::Text kTypingUnavailable{
    "Typing is not available on this system. Use varnelo-reader watch to show each card's IDm "
    "(--csv FILE keeps a list).",
    "この環境ではキーボード入力はできません。カードの IDm を表示するには varnelo-reader watch を"
    "使ってください（--csv FILE で一覧も残せます）。"};
// the window in front refuses input
inline constexpr console::Text kTypingRefused{
    "The IDm was not typed: the window in front runs with higher rights (as administrator, say) "
    "and refuses input. Start varnelo-reader the same way, or choose another window.",
    "IDm を入力できませんでした。前面のウィンドウは、より高い権限で動いているため入力を受け付けません"
    "（管理者として実行中のアプリなど）。varnelo-reader も同じ権限で起動するか、別のウィンドウを"
    "選んでください。"};
// the console itself has the focus
inline constexpr console::Text kTypingOwnConsole{
    "The IDm was not typed: this console has the focus. Click the field of the program to type into.",
    "IDm を入力しませんでした。この画面にフォーカスがあります。入力先のアプリの入力欄をクリックして"
    "ください。"};
// detail: the system's message
inline constexpr console::Text kTypingFailed{"The IDm could not be typed:", "IDm を入力できませんでした:"};
// read, and type without --any-card: the card has no IDm
inline constexpr console::Text kNotFelica{
    "The card on the reader is not a FeliCa card, so it has no IDm.",
    "リーダーの上のカードは FeliCa カードではないため、IDm はありません。"};
inline constexpr console::Text kRandomUid{
    "This card makes up its UID anew at each touch: it changes every time and does not tell the card.",
    "このカードの UID はかざすたびに新しく作られ、毎回変わります。カードを見分けるのには使えません。"};
inline constexpr console::Text kNotTypedNotFelica{
    "Nothing was typed: the card is not a FeliCa card. Add --any-card to type other cards' UIDs too.",
    "入力しませんでした。FeliCa カードではありません。ほかのカードの UID も入力するには --any-card を"
    "付けてください。"};
inline constexpr console::Text kNotTypedRandom{
    "Nothing was typed: this card's UID changes at every touch.",
    "入力しませんでした。このカードの UID はかざすたびに変わります。"};
inline constexpr console::Text kNotTypedNoNumber{
    "Nothing was typed: the card has no FeliCa number (no common area, or it could not be read).",
    "入力しませんでした。このカードには FeliCa カード番号がありません (共通領域がないか、読めませんでした)。"};
inline constexpr console::Text kNotTypedNoId{
    "Nothing was typed: the card gives no identifier.",
    "入力しませんでした。このカードは番号を返しません。"};
// detail: the file (console::Complain)
inline constexpr console::Text kCsvInUse{
    "Cannot open the CSV file: another program (a spreadsheet, say) holds it against writing. "
    "Close it there and try again:",
    "CSV ファイルを開けません。ほかのプログラム（表計算ソフトなど）が書き込みを禁止して開いています。"
    "そちらで閉じてから、やり直してください:"};
// detail: the file and the system's message (console::Complain)
inline constexpr console::Text kCsvOpenFailed{"Cannot open the CSV file:", "CSV ファイルを開けません:"};
// detail: the line not written and the system's message (console::Complain)
inline constexpr console::Text kCsvWriteFailed{"Could not write to the CSV file:",
                                               "CSV ファイルに書き込めませんでした:"};

// Waiting for cards with no reader: said at once, and again each time the last one goes.
inline constexpr console::Text kNoReaderYet{
    "No reader is connected. Connect one: it is used as soon as it is there.",
    "リーダーがつながっていません。リーダーをつなぐと、すぐに使い始めます。"};
// the same when a part of the name picks the reader; detail: that part
inline constexpr console::Text kNoNamedReaderYet{
    "No reader of that name is connected; it is used as soon as it is there:",
    "その名前のリーダーがつながっていません。つなぐと、すぐに使い始めます:"};
// detail: the reader's name
inline constexpr console::Text kReaderArrived{"Reader connected:", "リーダーがつながりました:"};

} // namespace pcsc
