// What varnelo-input says, in Japanese, or in English where Windows' UI language is not Japanese.
#pragma once
#include <windows.h>

struct Text {
  const wchar_t* japanese;
  const wchar_t* english;
};

inline const wchar_t* Say(const Text& text) {
  static const bool japanese = PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE;
  return japanese ? text.japanese : text.english;
}

inline constexpr Text kTitle{L"Varnelo 入力", L"Varnelo Input"};

// --- What it is doing ---
inline constexpr Text kOpening{L"リーダーを開いています...", L"Opening the reader..."};
inline constexpr Text kWaiting{L"カードを待っています。かざしたカードの ID を、いま入力できるウィンドウに入力します。",
                               L"Waiting for cards. Each card's ID is typed into the window that has the keyboard focus."};
inline constexpr Text kPaused{L"一時停止中です。「再開」を押すと、またカードを入力します。",
                              L"Paused. Press Resume to enter cards again."};
inline constexpr Text kNoReader{L"リーダーがつながっていません。リーダーをつなぐと、自動で始まります。",
                                L"No reader is connected. Connect one and this starts by itself."};
inline constexpr Text kReaderGone{L"リーダーが外れました。つなぎ直すと、自動で続きます。",
                                  L"The reader was disconnected. Connect it again and this goes on by itself."};
inline constexpr Text kReaderBack{L"リーダーがつながりました。", L"The reader is connected."};
inline constexpr Text kReaderBusy{
    L"ほかのアプリがリーダーを使っています。そのアプリを終了すると、自動で始まります。",
    L"Another program is using the reader. Close that program and this starts by itself."};
inline constexpr Text kNoLibrary{
    L"リーダー ライブラリ felica_for_vb.dll を使えません。zip をもう一度展開して、varnelo-input.exe と同じフォルダーに置いてください。",
    L"The reader library felica_for_vb.dll cannot be used. Unpack the zip again, so that it lies beside varnelo-input.exe."};
inline constexpr Text kLibrarySoftware{
    L"リーダーのソフトウェアを初期化できません。メーカーのソフトウェアを入れ直すか、同梱の felica_for_vb.dll を使ってください。",
    L"The reader's software cannot be started. Reinstall the maker's software, or use the felica_for_vb.dll of the zip."};
inline constexpr Text kReaderProblem{L"リーダーを使えません。リーダーをつなぎ直してください。自動でやり直します。",
                                     L"The reader cannot be used. Connect it again; this tries again by itself."};

// --- The last card ---
inline constexpr Text kEntered{L"入力しました: ", L"Entered: "};
inline constexpr Text kSameCard{L"同じカードなので入力しませんでした: ", L"The same card again, not entered: "};
inline constexpr Text kNoFelicaNumber{L"このカードの FeliCa カード番号を読めないので、何も入力しませんでした。IDm: ",
                                      L"This card's FeliCa number cannot be read, so nothing was entered. IDm: "};
inline constexpr Text kRefused{
    L"入力できませんでした。前面のアプリは管理者として実行されていて、入力を受け付けません。",
    L"Not entered: the program in front runs as administrator and refuses input."};
inline constexpr Text kOwnWindow{L"Varnelo 入力の画面には入力しません。入力先のアプリの入力欄をクリックしてください。",
                                 L"Nothing is entered into Varnelo Input itself. Click the field of the program to type into."};
inline constexpr Text kNotPasted{
    L"前面のアプリが貼り付けを受け付けませんでした。クリップボードは元に戻しました。",
    L"The program in front did not take the paste. The clipboard is as it was."};
inline constexpr Text kTypingFailed{L"入力できませんでした。エラー: ", L"Could not enter the ID. Error: "};
inline constexpr Text kCsvFailed{L"CSV ファイルに書き込めませんでした。エラー: ", L"Could not write to the CSV file. Error: "};
inline constexpr Text kCsvInUse{L"CSV ファイルを開けません。ほかのアプリ (表計算ソフトなど) が開いています: ",
                                L"Cannot open the CSV file: another program (a spreadsheet, say) holds it: "};
inline constexpr Text kCsvOpenFailed{L"CSV ファイルを開けません。エラー: ", L"Cannot open the CSV file. Error: "};

// --- Controls ---
inline constexpr Text kPause{L"一時停止", L"Pause"};
inline constexpr Text kResume{L"再開", L"Resume"};
inline constexpr Text kDetails{L"詳細...", L"Details..."};
inline constexpr Text kFormGroup{L"入力する ID の形式", L"The form of the ID"};
inline constexpr Text kSourceLabel{L"ID:", L"ID:"};
inline constexpr Text kSourceIdm{L"IDm", L"IDm"};
inline constexpr Text kSourceNumber{L"FeliCa カード番号", L"FeliCa number"};
inline constexpr Text kDigitsLabel{L"表記:", L"Digits:"};
inline constexpr Text kDigitsUpper{L"16 進数 大文字", L"Hex, upper case"};
inline constexpr Text kDigitsLower{L"16 進数 小文字", L"Hex, lower case"};
inline constexpr Text kDigitsDecimal{L"10 進数", L"Decimal"};
inline constexpr Text kReversed{L"バイト順を逆にする", L"Reverse the byte order"};
inline constexpr Text kSeparatorLabel{L"区切り:", L"Separator:"};
inline constexpr Text kPrefixLabel{L"前:", L"Prefix:"};
inline constexpr Text kSuffixLabel{L"後:", L"Suffix:"};
inline constexpr Text kExampleLabel{L"例:", L"Example:"};
inline constexpr Text kBadForm{L"この形式は使えません: ", L"This form cannot be used: "};
inline constexpr Text kEntryGroup{L"入力のしかた", L"How the ID is entered"};
inline constexpr Text kThenLabel{L"入力後のキー:", L"Then press:"};
inline constexpr Text kThenEnter{L"Enter", L"Enter"};
inline constexpr Text kThenTab{L"Tab", L"Tab"};
inline constexpr Text kThenNone{L"なし", L"Nothing"};
inline constexpr Text kWayLabel{L"入力方法:", L"Enter by:"};
inline constexpr Text kWayKeys{L"キー入力", L"Keystrokes"};
inline constexpr Text kWayPaste{L"貼り付け", L"Paste"};
inline constexpr Text kCloseIme{L"キー入力の間、入力先の日本語入力 (IME) をオフにする",
                                L"Turn the target's input method (IME) off while typing"};
inline constexpr Text kSameCardLabel{L"同じカードを無視:", L"Ignore the same card for:"};
inline constexpr Text kSameCardUnit{L"秒 (0 で無視しない)", L"seconds (0: never)"};
inline constexpr Text kSound{L"カードを読んだら音を鳴らす", L"Sound on each card"};
inline constexpr Text kCsvOn{L"読んだカードを CSV ファイルに記録する", L"Keep a list of the cards in a CSV file"};
inline constexpr Text kChoose{L"選択...", L"Choose..."};
inline constexpr Text kCsvFilter{L"CSV ファイル (*.csv)", L"CSV files (*.csv)"};
inline constexpr Text kStartWithWindows{L"Windows の起動時に通知領域で開始する",
                                        L"Start with Windows, in the notification area"};
inline constexpr Text kSettingsFile{L"設定ファイル: ", L"Settings file: "};
inline constexpr Text kSettingsBad{L"設定ファイルの次の値が正しくないので、既定の値を使います: ",
                                   L"These values in the settings file are not valid; their defaults are used: "};
inline constexpr Text kSettingsUnreadable{L"設定ファイルを読めないので、既定の設定を使います: ",
                                          L"The settings file cannot be read; the default settings are used: "};
inline constexpr Text kSettingsNotSaved{L"設定を保存できませんでした。エラー: ", L"The settings could not be saved. Error: "};

// --- The notification area ---
inline constexpr Text kShow{L"表示", L"Show"};
inline constexpr Text kQuit{L"終了", L"Quit"};
inline constexpr Text kInTray{L"Varnelo 入力は通知領域で動いています。終了するには、アイコンを右クリックしてください。",
                              L"Varnelo Input goes on in the notification area. Right-click its icon to quit."};
