// Texts for the two error types the reader library reports, in Japanese and in English. A text
// both tables carry is written once, in the FeliCa table, and the reader/writer table points at it.
#include <cstddef>
#include <iterator>

#include "FelicaAPI.h"

namespace FelicaAPI {
namespace {

constexpr const wchar_t* Undefined = L"未定義";

constexpr int32_t FelicaFirst = 1000;
constexpr const wchar_t* FelicaTexts[] = {
    L"エラーは発生していません", // 1000
    L"未定義のエラーです", // 1001
    L"関数の引数が不正です", // 1002
    L"メモリの確保が出来ません", // 1003
    L"スレッドの生成に失敗しました", // 1004
    L"ライブラリが初期化されていません", // 1005
    L"ライブラリは既に初期化されています", // 1006
    L"不正なファイル名が指定されました", // 1007
    L"ファイルを見つけることが出来ません", // 1008
    L"ファイルをオープンすることが出来ません", // 1009
    L"ファイルがオープンされていません", // 1010
    L"ファイルは既にオープンされています", // 1011
    L"不正なディレクトリ名が指定されました", // 1012
    L"ディレクトリを見つけることが出来ません", // 1013
    L"ディレクトリをオープンすることが出来ません", // 1014
    L"ディレクトリがオープンされていません", // 1015
    L"ディレクトリは既にオープンされています", // 1016
    L"不正なポート名が指定されました", // 1017
    L"ポートを見つけることが出来ません", // 1018
    L"ポートをオープンすることが出来ません", // 1019
    L"ポートがオープンされていません", // 1020
    L"ポートは既にオープンされています", // 1021
    L"タイムアウトの値が不正です", // 1022
    L"ボーレートの値が不正です", // 1023
    L"リトライカウントの値が不正です", // 1024
    L"FeliCa リーダ・ライタコントロールライブラリを見つけることが出来ません", // 1025
    L"FeliCa リーダ・ライタコントロールライブラリのロードに失敗しました", // 1026
    L"リーダ・ライタのオープンに失敗しました", // 1027
    L"リーダ・ライタを自動認識できません", // 1028
    L"リーダ・ライタがオープンされていません", // 1029
    L"リーダ・ライタは既にオープンされています", // 1030
    L"リーダ・ライタとの再接続に失敗しました", // 1031
    L"カードがかざされたときに送信するメッセージの登録に失敗しました", // 1032
    L"カードを見失なったときに送信するメッセージの登録に失敗しました", // 1033
    L"コールバックパラメータが設定されていません", // 1034
    L"コールバックを行うための連続ポーリングが開始されていません", // 1035
    L"ポーリングに失敗しました", // 1036
    L"カードのモードの取得に失敗しました", // 1037
    L"カードのエリア・サービスキーバージョンの取得に失敗しました", // 1038
    L"カードとの相互認証に失敗しました", // 1039
    L"カードからのデータの読み込みに失敗しました", // 1040
    L"カードへのデータの書き込みに失敗しました", // 1041
    L"カードからの鍵のないサービスデータの読み込みに失敗しました", // 1042
    L"カードへの鍵のないサービスデータの書き込みに失敗しました", // 1043
    L"コミュニケートスルーコマンドの発行に失敗しました", // 1044
    L"アクセスキーの生成に失敗しました", // 1045
    L"まだ一度もポーリングが行われていません", // 1046
    L"カードの情報の取得に失敗しました", // 1047
    L"カードのインデックスが不正なためカードの情報を取得できませんでした", // 1048
    L"ポーリングの時に取得したカード IDm と関数引数のカード IDm が一致しなかったため処理を中断しました", // 1049
    L"相互認証が行われていません", // 1050
    L"鍵のないサービスへの読み書きに相互認証が必要なサービスが指定されました", // 1051
    L"ブロックリストを自動生成することが出来ないサービス (Cash Back and Decrement) が指定されました", // 1052
    L"FeliCa アクセスライブラリの API の呼び出しに失敗しました", // 1053
    L"鍵の変更に失敗しました", // 1054
    L"連続ポーリングはすでに起動しています", // 1055
    L"リーダライタが接続されたときに送信するメッセージ登録に失敗しました", // 1056
    L"リーダライタが抜かれたときに送信するメッセージ登録に失敗しました", // 1057
    L"プラグアンドプレイ監視は起動していません", // 1058
    L"プラグアンドプレイ監視はすでに起動しています", // 1059
    L"この OS では実装されていいない API です", // 1060
    L"カードのシステムコードリストの取得に失敗しました", // 1061
    L"カードのサービスコードリストの取得に失敗しました", // 1062
};

constexpr int32_t RwFirst = 100;
constexpr const wchar_t* RwTexts[] = {
    FelicaTexts[0], // 100
    FelicaTexts[1], // 101
    FelicaTexts[2], // 102
    FelicaTexts[3], // 103
    FelicaTexts[4], // 104
    FelicaTexts[5], // 105
    FelicaTexts[6], // 106
    FelicaTexts[7], // 107
    FelicaTexts[8], // 108
    FelicaTexts[9], // 109
    FelicaTexts[10], // 110
    FelicaTexts[11], // 111
    FelicaTexts[12], // 112
    FelicaTexts[13], // 113
    FelicaTexts[14], // 114
    FelicaTexts[15], // 115
    FelicaTexts[16], // 116
    FelicaTexts[17], // 117
    FelicaTexts[18], // 118
    FelicaTexts[19], // 119
    FelicaTexts[20], // 120
    FelicaTexts[21], // 121
    FelicaTexts[22], // 122
    FelicaTexts[23], // 123
    L"プラグインのホームディレクトリが設定されていません", // 124
    L"プラグインのホームディレクトリを見つけることが出来ません", // 125
    L"プラグインの初期化に失敗しました", // 126
    L"プラグインを見つけることが出来ません", // 127
    L"コマンド・プラグインを見つけることが出来ません", // 128
    L"デバイス・プラグインを見つけることが出来ません", // 129
    L"セキュリティ・プラグインを見つけることが出来ません", // 130
    L"テーブルへのアクセスに失敗しました", // 131
    L"コマンドが見つかりません", // 132
    L"スクリプトの実行に失敗しました", // 133
    L"ポートの初期化に失敗しました", // 134
    L"ポートのタイムアウトの設定に失敗しました", // 135
    L"ポートのデバイスコントロールの設定が不正です", // 136
    L"ポートのマスキングに失敗しました", // 137
    L"ポートのパージングに失敗しました", // 138
    L"平文データの取得に失敗しました", // 139
    L"平文データの保存に失敗しました", // 140
    L"暗号文データの取得に失敗しました", // 141
    L"暗号文データの保存に失敗しました", // 142
    L"認証に必要な乱数列がセットされていません", // 143
    L"トランザクション ID がセットされていません", // 144
    L"データを暗号化するために必要なトランザクションキーの取得に失敗しました", // 145
    L"データを暗号化するために必要なトランザクションキーが不正です", // 146
    L"コミュニケーション・パリティーのチェックで不整合が生じました", // 147
    L"リーダ・ライタから NACK を受信しました", // 148
    L"リーダ・ライタからシンタックスエラーと通知されました", // 149
    L"リーダ・ライタから不正なパケットを受信しました", // 150
    L"一回のセッションで通信出来るシーケンスの回数を越えました", // 151
    L"リーダ・ライタからの応答がありません", // 152
    L"リーダ・ライタへのデータの送信に失敗しました", // 153
    L"リーダ・ライタへのデータの送信でタイムアウトしました", // 154
    L"リーダ・ライタからのデータの受信に失敗しました", // 155
    L"リーダ・ライタからのデータの受信でタイムアウトしました", // 156
    L"カードを補足することが出来ませんでした", // 157
    FelicaTexts[48], // 158
    L"カードからエラーのステータスフラグを受信しました", // 159
    L"コミュニケートスルーコマンドに対しての応答がありません", // 160
    L"ユーザーキーの指定方法が正しくありません", // 161
    L"使用期限が切れています", // 162
    FelicaTexts[34], // 163
    FelicaTexts[56], // 164
    FelicaTexts[57], // 165
    FelicaTexts[58], // 166
    FelicaTexts[59], // 167
    L"プラグアンドプレイ監視ウィンドウクラスの登録に失敗しました", // 168
    L"プラグアンドプレイ監視ウィンドウの作成に失敗しました", // 169
    L"GUID デバイス情報セットへのハンドルが取得できません", // 170
    L"GUID インターフェイスデータが取得できません", // 171
    L"GUID シンボリック名が取得できません", // 172
    FelicaTexts[60], // 173
    FelicaTexts[61], // 174
    FelicaTexts[62], // 175
};

// The same texts in English, for the console tool; the window shows only the Japanese ones.
constexpr const char* UndefinedEnglish = "undefined";
constexpr const char* FelicaTextsEnglish[] = {
    "No error", // 1000
    "Undefined error", // 1001
    "Invalid function argument", // 1002
    "Cannot allocate memory", // 1003
    "Could not create a thread", // 1004
    "The library is not initialized", // 1005
    "The library is already initialized", // 1006
    "Invalid file name", // 1007
    "File not found", // 1008
    "Cannot open the file", // 1009
    "The file is not open", // 1010
    "The file is already open", // 1011
    "Invalid directory name", // 1012
    "Directory not found", // 1013
    "Cannot open the directory", // 1014
    "The directory is not open", // 1015
    "The directory is already open", // 1016
    "Invalid port name", // 1017
    "Port not found", // 1018
    "Cannot open the port", // 1019
    "The port is not open", // 1020
    "The port is already open", // 1021
    "Invalid timeout value", // 1022
    "Invalid baud rate", // 1023
    "Invalid retry count", // 1024
    "Cannot find the FeliCa reader/writer control library", // 1025
    "Could not load the FeliCa reader/writer control library", // 1026
    "Could not open the reader/writer", // 1027
    "Cannot detect a reader/writer", // 1028
    "The reader/writer is not open", // 1029
    "The reader/writer is already open", // 1030
    "Could not reconnect to the reader/writer", // 1031
    "Could not register the message sent when a card is held over the reader", // 1032
    "Could not register the message sent when the card is lost", // 1033
    "The callback parameters are not set", // 1034
    "Continuous polling for callbacks has not been started", // 1035
    "Polling failed", // 1036
    "Could not get the card's mode", // 1037
    "Could not get the card's area and service key versions", // 1038
    "Mutual authentication with the card failed", // 1039
    "Could not read data from the card", // 1040
    "Could not write data to the card", // 1041
    "Could not read service data without a key from the card", // 1042
    "Could not write service data without a key to the card", // 1043
    "Could not issue the communicate-through command", // 1044
    "Could not generate the access key", // 1045
    "No polling has been done yet", // 1046
    "Could not get the card's information", // 1047
    "Could not get the card's information: invalid card index", // 1048
    "Stopped: the card IDm from the polling does not match the card IDm given", // 1049
    "Mutual authentication has not been done", // 1050
    "A service that needs mutual authentication was given for reading or writing without a key", // 1051
    "A service whose block list cannot be made automatically (Cash Back and Decrement) was given", // 1052
    "A call to the FeliCa access library's API failed", // 1053
    "Could not change the key", // 1054
    "Continuous polling is already running", // 1055
    "Could not register the message sent when a reader/writer is connected", // 1056
    "Could not register the message sent when a reader/writer is removed", // 1057
    "Plug-and-play monitoring is not running", // 1058
    "Plug-and-play monitoring is already running", // 1059
    "This API is not implemented on this OS", // 1060
    "Could not get the card's system code list", // 1061
    "Could not get the card's service code list", // 1062
};
constexpr const char* RwTextsEnglish[] = {
    FelicaTextsEnglish[0], // 100
    FelicaTextsEnglish[1], // 101
    FelicaTextsEnglish[2], // 102
    FelicaTextsEnglish[3], // 103
    FelicaTextsEnglish[4], // 104
    FelicaTextsEnglish[5], // 105
    FelicaTextsEnglish[6], // 106
    FelicaTextsEnglish[7], // 107
    FelicaTextsEnglish[8], // 108
    FelicaTextsEnglish[9], // 109
    FelicaTextsEnglish[10], // 110
    FelicaTextsEnglish[11], // 111
    FelicaTextsEnglish[12], // 112
    FelicaTextsEnglish[13], // 113
    FelicaTextsEnglish[14], // 114
    FelicaTextsEnglish[15], // 115
    FelicaTextsEnglish[16], // 116
    FelicaTextsEnglish[17], // 117
    FelicaTextsEnglish[18], // 118
    FelicaTextsEnglish[19], // 119
    FelicaTextsEnglish[20], // 120
    FelicaTextsEnglish[21], // 121
    FelicaTextsEnglish[22], // 122
    FelicaTextsEnglish[23], // 123
    "The plug-in home directory is not set", // 124
    "Cannot find the plug-in home directory", // 125
    "Could not initialize the plug-in", // 126
    "Cannot find the plug-in", // 127
    "Cannot find the command plug-in", // 128
    "Cannot find the device plug-in", // 129
    "Cannot find the security plug-in", // 130
    "Could not access the table", // 131
    "Command not found", // 132
    "Could not run the script", // 133
    "Could not initialize the port", // 134
    "Could not set the port's timeout", // 135
    "The port's device control settings are invalid", // 136
    "Could not mask the port", // 137
    "Could not purge the port", // 138
    "Could not get the plain-text data", // 139
    "Could not store the plain-text data", // 140
    "Could not get the encrypted data", // 141
    "Could not store the encrypted data", // 142
    "The random numbers needed for authentication are not set", // 143
    "The transaction ID is not set", // 144
    "Could not get the transaction key needed to encrypt data", // 145
    "The transaction key needed to encrypt data is invalid", // 146
    "The communication parity check found a mismatch", // 147
    "Received a NACK from the reader/writer", // 148
    "The reader/writer reported a syntax error", // 149
    "Received an invalid packet from the reader/writer", // 150
    "More sequences than one session can carry", // 151
    "No response from the reader/writer", // 152
    "Could not send data to the reader/writer", // 153
    "Timed out sending data to the reader/writer", // 154
    "Could not receive data from the reader/writer", // 155
    "Timed out receiving data from the reader/writer", // 156
    "Could not catch the card", // 157
    FelicaTextsEnglish[48], // 158
    "Received error status flags from the card", // 159
    "No response to the communicate-through command", // 160
    "The user key is given the wrong way", // 161
    "Past its expiry date", // 162
    FelicaTextsEnglish[34], // 163
    FelicaTextsEnglish[56], // 164
    FelicaTextsEnglish[57], // 165
    FelicaTextsEnglish[58], // 166
    FelicaTextsEnglish[59], // 167
    "Could not register the plug-and-play monitoring window class", // 168
    "Could not create the plug-and-play monitoring window", // 169
    "Cannot get a handle to the GUID device information set", // 170
    "Cannot get the GUID interface data", // 171
    "Cannot get the GUID symbolic name", // 172
    FelicaTextsEnglish[60], // 173
    FelicaTextsEnglish[61], // 174
    FelicaTextsEnglish[62], // 175
};

static_assert(std::size(FelicaTexts) == 1062 - FelicaFirst + 1);
static_assert(std::size(RwTexts) == 175 - RwFirst + 1);
static_assert(std::size(FelicaTextsEnglish) == std::size(FelicaTexts));
static_assert(std::size(RwTextsEnglish) == std::size(RwTexts));

template <class Char, size_t N>
const Char* Lookup(const Char* const (&table)[N], int32_t first, int32_t code, const Char* undefined) {
  // Widened so that codes near the ends of the 32-bit range can't wrap into the table.
  int64_t index = int64_t{code} - first;
  if (index < 0 || index >= int64_t{N}) {
    return undefined;
  }
  return table[index];
}

} // namespace

std::wstring FelicaErrorText(int32_t code) { return Lookup(FelicaTexts, FelicaFirst, code, Undefined); }

std::wstring RwErrorText(int32_t code) { return Lookup(RwTexts, RwFirst, code, Undefined); }

std::string FelicaErrorTextEnglish(int32_t code) {
  return Lookup(FelicaTextsEnglish, FelicaFirst, code, UndefinedEnglish);
}

std::string RwErrorTextEnglish(int32_t code) { return Lookup(RwTextsEnglish, RwFirst, code, UndefinedEnglish); }

} // namespace FelicaAPI
