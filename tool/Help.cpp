#include "Help.h"

#include <vector>

#include "Console.h"

namespace pcsc {
namespace {

using console::Text;

// Windows 7's console is 80 columns wide, and a line that fills them all wraps there.
constexpr size_t kWidth = 79;
// Where every description begins, term or not.
constexpr size_t kTextColumn = 24;

// A line of the help: a command, or an option of the commands it names ("" for all of them).
struct Row {
  const char* commands;
  Text term;
  Text text;
};

constexpr Text kIntro{
    "varnelo-reader: checks a FeliCa reader over PC/SC, the way Varnelo's felica_for_vb.dll reads it.",
    "varnelo-reader: FeliCa リーダーを PC/SC で調べます。Varnelo の felica_for_vb.dll と同じ方法で読みます。"};
constexpr Text kUsage{"usage: varnelo-reader ", "使い方: varnelo-reader "};
constexpr Text kAnyCommand{"COMMAND", "コマンド"};
constexpr Text kOptions{" [OPTION...]", " [オプション...]"};

constexpr Row kCommands[] = {
    {"list", {"list", "list"},
     {"each PC/SC reader on a line: card= the card on it (felica, iso14443a, iso14443b, iso15693, contact, "
      "other, none), dialect= how the library talks to it (known once a FeliCa card is on it), reader= its name",
      "PC/SC リーダーを 1 台 1 行で表示します。card= は置かれたカードの種類 (felica、iso14443a、iso14443b、"
      "iso15693、contact、other、なしは none)、dialect= はリーダーとの話し方 (FeliCa カードを置いたときだけ"
      "分かります)、reader= はリーダーの名前です"}},
    {"read", {"read", "read"},
     {"card=, and a FeliCa card's IDm= and PMm=; another card's UID= (and random=yes when it changes at every "
      "touch), with exit status 1",
      "card= と、FeliCa カードの IDm= と PMm= を表示します。ほかのカードは UID= (かざすたびに変わるものは "
      "random=yes も) を表示し、終了コードは 1 です"}},
    {"watch", {"watch", "watch"},
     {"found card=... IDm=... (or UID=...) when a card arrives, lost when it leaves; Ctrl+C stops. With no reader connected it says so "
      "and waits for one",
      "カードを置くと found card=... IDm=... (ほかのカードは UID=...)、離すと lost と表示します。Ctrl+C で終わります。リーダーがつながって"
      "いなければ、そう表示してつながるのを待ちます"}},
#ifdef _WIN32
    {"type", {"type", "type"},
     {"as watch, and types each card's IDm into the window that has the keyboard focus, then Enter",
      "watch と同じく動き、カードの IDm を、いま入力できるウィンドウにキーボード入力して Enter を押します"}},
    {"library", {"library", "library"},
     {"which felica_for_vb.dll varnelo.exe in this folder would load, and whether it is Varnelo's own (ours=yes) "
      "or another of that name",
      "このフォルダーの varnelo.exe が読み込む felica_for_vb.dll と、それが Varnelo のもの (ours=yes) か、"
      "同じ名前の別のものかを表示します"}},
#endif
};

constexpr Row kOptionRows[] = {
    {"read", {"--felica-number", "--felica-number"},
     {"with read: also the card's FeliCa card number, FeliCaNumber=",
      "read で、FeliCa カード番号 (FeliCaNumber=) も読みます"}},
    {"watch type", {"--csv FILE", "--csv ファイル"},
     {"with watch and type: adds a line per card to the CSV file FILE: time, IDm, and repeat for a card already "
      "read in this run",
      "watch と type で、カードごとに 1 行 (時刻、IDm、この実行で 2 回目以降なら repeat) を CSV ファイルに"
      "追加します"}},
    {"watch type", {"--beep", "--beep"},
     {"with watch and type: the system's beep for each card", "watch と type で、カードごとにシステムの音を鳴らします"}},
#ifdef _WIN32
    {"type", {"--then KEY", "--then キー"},
     {"with type: the key pressed after each IDm: enter (the default), tab or none",
      "type で、IDm の後に押すキーです。enter (指定がないとき)、tab、none のどれかです"}},
    {"type", {"--any-card", "--any-card"},
     {"with type: other cards' UIDs too, but not those that change at every touch (FeliCa IDms only without it)",
      "type で、ほかのカードの UID も入力します (かざすたびに変わるものは除きます)。付けなければ FeliCa カードの "
      "IDm だけです"}},
#endif
    {"read watch type", {"--format WORDS", "--format 語"},
     {"also ID= (type: types it) in another form, words joined by commas: lower, decimal, reversed (byte "
      "order), felica-number (the FeliCa card number instead of the IDm), separator=TEXT, prefix=TEXT, "
      "suffix=TEXT; e.g. decimal,reversed",
      "ID= として別の形でも表示します (type ではその形で入力します)。語をコンマでつなぎます: lower (小文字)、"
      "decimal (10 進数)、reversed (バイトを逆順に)、felica-number (IDm の代わりに FeliCa カード番号)、"
      "separator=文字 (バイトの区切り)、prefix=文字、suffix=文字。例: decimal,reversed"}},
    {"", {"--reader PART", "--reader 名前の一部"},
     {"the reader whose name contains PART; without it the one named by the environment variable "
      "VARNELO_READER, else one with a FeliCa card, then one with another contactless card, then the first",
      "名前にその文字列を含むリーダーを使います。指定がなければ環境変数 VARNELO_READER のリーダー、"
      "なければ FeliCa カードが置かれたリーダー、ほかの非接触カードが置かれたリーダー、最初のリーダーの順です"}},
    {"", {"/?, -h, --help", "/?, -h, --help"},
     {"this help; after a command, what that command does",
      "この説明を表示します。コマンドの後に付けると、そのコマンドの説明です"}},
};

constexpr Text kFooter[] = {
    {"Values go to standard output. The exit status is 0 only when everything asked for was read; else 1, with "
     "the error types FeliCaErrorType= and RWErrorType= on standard error, and 2 for a command line it does not "
     "understand.",
     "値は標準出力に出ます。終了コードは、すべて読めたときだけ 0 です。読めなかったときは 1 で、エラーの種類 "
     "(FeliCaErrorType= と RWErrorType=) を標準エラー出力に出します。コマンドの指定が正しくないときは 2 です。"},
#ifdef _WIN32
    {"Commands and options may be written in capitals or in small letters.",
     "コマンドとオプションは、大文字でも小文字でもかまいません。"},
#endif
};

size_t CharLength(char lead) {
  const auto byte = static_cast<unsigned char>(lead);
  return byte < 0x80 ? 1 : byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
}

std::string LastChar(const std::string& text) {
  size_t start = text.size() - 1;
  while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
    --start;
  return text.substr(start);
}

bool IsAny(const std::string& c, std::initializer_list<const char*> set) {
  for (const char* one : set)
    if (c == one)
      return true;
  return false;
}

// The text in lines of at most width columns. Lines break at spaces, and in Japanese between two
// characters where one is full-width, but never before a closing mark, a long vowel or a small
// kana, nor after an opening mark.
std::vector<std::string> Wrap(const std::string& text, size_t width) {
  struct Unit {
    std::string text;
    bool spaceBefore;
  };
  std::vector<Unit> units;
  bool space = false;
  for (size_t i = 0; i < text.size();) {
    const std::string c = text.substr(i, CharLength(text[i]));
    i += c.size();
    if (c == " ") {
      space = true;
      continue;
    }
    const bool wide = console::Columns(c) == 2;
    bool join = false;
    if (!units.empty() && !space) {
      const std::string lastChar = LastChar(units.back().text);
      const bool lastWide = console::Columns(lastChar) == 2;
      join = IsAny(c, {"、", "。", "）", "」", "ー", "ァ", "ィ", "ゥ", "ェ", "ォ", "ッ", "ャ", "ュ", "ョ", "っ", "ゃ",
                       "ゅ", "ょ", ")", ",", ".", ":", ";"}) ||
             IsAny(lastChar, {"（", "「", "("}) ||
             (!wide && !lastWide);
    }
    if (join) {
      units.back().text += c;
    } else {
      units.push_back({c, space});
    }
    space = false;
  }
  std::vector<std::string> lines;
  std::string line;
  for (const Unit& unit : units) {
    const std::string add = (unit.spaceBefore && !line.empty() ? " " : "") + unit.text;
    if (!line.empty() && console::Columns(line) + console::Columns(add) > width) {
      lines.push_back(line);
      line = unit.text;
    } else {
      line += add;
    }
  }
  if (!line.empty())
    lines.push_back(line);
  return lines;
}

bool ForCommand(const Row& row, const std::string& command) {
  if (command.empty() || !*row.commands)
    return true;
  const std::string names = std::string(" ") + row.commands + " ";
  return names.find(" " + command + " ") != std::string::npos;
}

void AddRow(std::string& help, const Row& row) {
  const std::string term = std::string("  ") + console::Say(row.term);
  const size_t used = console::Columns(term);
  help += term;
  // A term too long for its column has its text on the next line.
  help += used + 2 <= kTextColumn ? std::string(kTextColumn - used, ' ') : "\n" + std::string(kTextColumn, ' ');
  const std::vector<std::string> lines = Wrap(console::Say(row.text), kWidth - kTextColumn);
  for (size_t i = 0; i < lines.size(); ++i)
    help += (i > 0 ? std::string(kTextColumn, ' ') : "") + lines[i] + "\n";
}

void AddParagraph(std::string& help, const Text& text) {
  for (const std::string& line : Wrap(console::Say(text), kWidth))
    help += line + "\n";
}

} // namespace

std::string Help(const std::string& command) {
  std::string help;
  AddParagraph(help, kIntro);
  help += "\n";
  help += console::Say(kUsage) + (command.empty() ? std::string(console::Say(kAnyCommand)) : command) +
          console::Say(kOptions) + "\n\n";
  for (const Row& row : kCommands)
    if (command.empty() || command == row.commands)
      AddRow(help, row);
  help += "\n";
  for (const Row& row : kOptionRows)
    if (ForCommand(row, command))
      AddRow(help, row);
  help += "\n";
  for (const Text& text : kFooter)
    AddParagraph(help, text);
  return help;
}

} // namespace pcsc
