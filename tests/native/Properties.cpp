#include "Properties.h"

#include <algorithm>
#include <optional>
#include <span>
#include <vector>

#include "MainFormText.h"
#include "felica/ErrorDescription.h"
#include "felica/FelicaAPI.h"

using namespace FelicaAPI;

namespace {

// Takes values off the front of the input; an exhausted input gives zeros.
class Input {
public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t Byte() { return position_ < size_ ? data_[position_++] : 0; }
  // One byte per statement: the order of calls within one expression is unspecified.
  uint32_t Word(int bytes) {
    uint32_t word = 0;
    for (int i = 0; i < bytes; ++i) {
      word |= uint32_t{Byte()} << (8 * i);
    }
    return word;
  }
  int32_t Int32() { return static_cast<int32_t>(Word(4)); }

  std::vector<uint8_t> Bytes() {
    size_t count = std::min<size_t>(Byte(), size_ - position_);
    std::vector<uint8_t> bytes(data_ + position_, data_ + position_ + count);
    position_ += count;
    return bytes;
  }

  // Mostly characters that mean something to the compositions: line breaks, brackets, digits, signs.
  std::wstring Text() {
    static constexpr wchar_t Telling[] = L"\r\n[]()-0123456789：詳A ";
    std::wstring text(Byte() % 24, L'\0');
    for (wchar_t& c : text) {
      uint8_t b = Byte();
      c = b < 200 ? Telling[b % (std::size(Telling) - 1)] : static_cast<wchar_t>(Word(2));
    }
    return text;
  }

  // One of the interesting values, or an arbitrary one.
  int32_t Pick(std::initializer_list<int32_t> values) {
    uint8_t b = Byte();
    return b < values.size() * 16 ? values.begin()[b / 16] : Int32();
  }

private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

// Reads a decimal integer in canonical form (minus sign, no leading zeros) from text at position.
std::optional<int64_t> Decimal(const std::wstring& text, size_t& position) {
  size_t start = position;
  bool negative = position < text.size() && text[position] == L'-';
  if (negative) ++position;
  int64_t value = 0;
  size_t digits = 0;
  while (position < text.size() && text[position] >= L'0' && text[position] <= L'9' && digits < 12) {
    value = value * 10 + (text[position++] - L'0');
    ++digits;
  }
  if (digits == 0 || (digits > 1 && text[start + negative] == L'0') || (negative && value == 0)) return std::nullopt;
  return negative ? -value : value;
}

bool Consume(const std::wstring& text, size_t& position, const std::wstring& expected) {
  if (text.compare(position, expected.size(), expected) != 0) return false;
  position += expected.size();
  return true;
}

std::string CheckHex(Input& in) {
  const std::vector<uint8_t> bytes = in.Bytes();
  const int16_t maxCount = static_cast<int16_t>(in.Pick({0, 8, -1, INT16_MIN, INT16_MAX}));
  const int16_t minLength = static_cast<int16_t>(in.Pick({0, 8, -1, INT16_MIN, INT16_MAX}));
  const std::wstring hex = BytesToHex(bytes, maxCount, minLength);

  if (minLength > 0 && bytes.size() < size_t(minLength)) {
    return hex.empty() ? "" : "hex: not empty below the minimum length";
  }
  const size_t rendered = maxCount > 0 ? std::min(bytes.size(), size_t(maxCount)) : bytes.size();
  if (hex.size() != 2 * rendered) return "hex: not two digits per rendered byte";
  for (size_t i = 0; i < rendered; ++i) {
    auto digit = [](wchar_t c) { return c >= L'0' && c <= L'9' ? c - L'0' : c >= L'A' && c <= L'F' ? c - L'A' + 10 : -1; };
    int high = digit(hex[2 * i]), low = digit(hex[2 * i + 1]);
    if (high < 0 || low < 0) return "hex: not an upper-case hexadecimal digit";
    if (high * 16 + low != bytes[i]) return "hex: does not read back as the byte";
  }
  return "";
}

std::string CheckTexts(Input& in) {
  const int32_t felica = in.Pick({999, 1000, 1062, 1063, -1, 0, INT32_MIN, INT32_MAX});
  const int32_t rw = in.Pick({99, 100, 175, 176, -1, 0, INT32_MIN, INT32_MAX});
  const std::wstring felicaText = FelicaErrorText(felica);
  const std::wstring rwText = RwErrorText(rw);
  if ((felicaText == L"未定義") != (felica < 1000 || felica > 1062)) return "texts: FeliCa table range";
  if ((rwText == L"未定義") != (rw < 100 || rw > 175)) return "texts: reader/writer table range";
  for (const std::wstring& text : {felicaText, rwText}) {
    if (text.empty() || text.find_first_of(L"\r\n[]") != std::wstring::npos) return "texts: empty or not one line";
  }

  // Four lines, plus those the name brings; each number reads back as the type it shows.
  const std::wstring name = in.Text();
  const std::wstring description = ComposeFelicaErrorDescription(name, felica, rw);
  size_t at = 0;
  if (!Consume(description, at, L"FelicaAPIでエラーが発生しました。\r\nfuncName         [" + name + L"]\r\nFeliCaErrorCode [")) {
    return "description: heading or name line";
  }
  if (Decimal(description, at) != felica) return "description: FeliCa type";
  if (!Consume(description, at, L"] (" + felicaText + L")\r\nRWErrorCode     [")) return "description: FeliCa text";
  if (Decimal(description, at) != rw) return "description: reader/writer type";
  if (!Consume(description, at, L"] (" + rwText + L")") || at != description.size()) return "description: end";
  return "";
}

std::string CheckMessage(Input& in) {
  static const std::wstring Sep = L"--<詳細>----------------------------------------------";
  static const std::wstring Heads[] = {
      L"FeliCaカードリーダーの操作でエラーが発生しました。",
      L"FeliCaリーダー／ライターソフトウェアがインストールされていない可能性があります。",
      L"FeliCaカードリーダが接続されていないか、\r\nカードリーダーにアクセスしているアプリケーションが存在します。"};
  const wchar_t* sources[] = {L"FelicaAPI", L"Varnelo", L"felicaapi", L"FelicaAPI "};
  const uint8_t sourceIndex = in.Byte() % 5;
  const FelicaError error{in.Pick({513, 514, 515, 512, 516, 6, 0, INT32_MIN}),
                          sourceIndex < 4 ? sources[sourceIndex] : in.Text(), in.Text()};
  const std::wstring location = in.Text();
  const std::wstring where = location.empty() ? L"" : L"\r\nエラー発生箇所：" + location;
  const std::wstring message = ErrorMessageText(error, location);
  const std::wstring details = L"\r\n\r\n" + Sep + L"\r\n" + error.Description;

  size_t at = 0;
  if (error.Source == L"FelicaAPI" && error.Number >= 513 && error.Number <= 515) {
    if (!Consume(message, at, Heads[error.Number - 513])) return "message: explanation";
    if (error.Number == 513 && !Consume(message, at, where)) return "message: location after 513";
    if (!Consume(message, at, details) || at != message.size()) return "message: details";
    return "";
  }
  if (!Consume(message, at, L"内部エラーが発生しました。" + details + L"(エラーコード：")) return "message: internal";
  if (Decimal(message, at) != error.Number) return "message: number";
  if (!Consume(message, at, L")" + where) || at != message.size()) return "message: end";
  return "";
}

std::string CheckTitle(Input& in) {
  const int major = in.Pick({0, 1, 10, INT32_MIN, INT32_MAX});
  const int minor = in.Pick({0, 1, 10, INT32_MIN, INT32_MAX});
  const std::wstring title = MainFormTitle(major, minor);
  size_t at = 0;
  if (!Consume(title, at, L"Varnelo (ver") || Decimal(title, at) != major || !Consume(title, at, L".") ||
      Decimal(title, at) != minor || !Consume(title, at, L")") || at != title.size()) {
    return "title";
  }
  return "";
}

} // namespace

std::string CheckProperties(const uint8_t* data, size_t size) {
  Input in(data, size);
  for (auto check : {CheckHex, CheckTexts, CheckMessage, CheckTitle}) {
    std::string failure = check(in);
    if (!failure.empty()) return failure;
  }
  return "";
}
