#include "IdForm.h"

#include <algorithm>

namespace pcsc {

namespace {

bool Typeable(const std::string& text) {
  return text.size() <= kMaxFormText &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E && c != ','; });
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  return text;
}

} // namespace

std::string FormatId(const std::array<uint8_t, 8>& bytes, const IdForm& form) {
  std::array<uint8_t, 8> ordered = bytes;
  if (form.reversed)
    std::reverse(ordered.begin(), ordered.end());
  std::string text = form.prefix;
  if (form.digits == IdForm::Digits::Decimal) {
    uint64_t value = 0;
    for (uint8_t b : ordered)
      value = value << 8 | b;
    text += std::to_string(value);
  } else {
    const char* digits = form.digits == IdForm::Digits::Lower ? "0123456789abcdef" : "0123456789ABCDEF";
    for (size_t i = 0; i < ordered.size(); ++i) {
      if (i > 0)
        text += form.separator;
      text += digits[ordered[i] >> 4];
      text += digits[ordered[i] & 15];
    }
  }
  return text + form.suffix;
}

std::string IdFormText(const IdForm& form) {
  std::string text;
  auto add = [&text](const std::string& word) { text += (text.empty() ? "" : ",") + word; };
  if (form.source == IdForm::Source::FelicaNumber)
    add("felica-number");
  if (form.digits == IdForm::Digits::Lower)
    add("lower");
  if (form.digits == IdForm::Digits::Decimal)
    add("decimal");
  if (form.reversed)
    add("reversed");
  if (!form.separator.empty())
    add("separator=" + form.separator);
  if (!form.prefix.empty())
    add("prefix=" + form.prefix);
  if (!form.suffix.empty())
    add("suffix=" + form.suffix);
  return text;
}

std::optional<IdForm> ParseIdForm(const std::string& text, std::string& bad) {
  IdForm form;
  if (text.empty())
    return form;
  bool digitsSet = false, sourceSet = false;
  size_t start = 0;
  while (true) {
    const size_t end = std::min(text.find(',', start), text.size());
    const std::string word = text.substr(start, end - start);
    const size_t equals = word.find('=');
    const std::string name = Lower(word.substr(0, equals));
    const std::string value = equals == std::string::npos ? "" : word.substr(equals + 1);
    auto digits = [&](IdForm::Digits d) {
      if (digitsSet && form.digits != d)
        return false;
      digitsSet = true;
      form.digits = d;
      return true;
    };
    auto source = [&](IdForm::Source s) {
      if (sourceSet && form.source != s)
        return false;
      sourceSet = true;
      form.source = s;
      return true;
    };
    bool ok = false;
    if (equals == std::string::npos) {
      if (name == "upper" || name == "hex")
        ok = digits(IdForm::Digits::Upper);
      else if (name == "lower")
        ok = digits(IdForm::Digits::Lower);
      else if (name == "decimal")
        ok = digits(IdForm::Digits::Decimal);
      else if (name == "reversed")
        ok = form.reversed = true;
      else if (name == "idm")
        ok = source(IdForm::Source::Idm);
      else if (name == "felica-number")
        ok = source(IdForm::Source::FelicaNumber);
    } else if (Typeable(value)) {
      std::string* field = name == "separator" ? &form.separator
                           : name == "prefix"  ? &form.prefix
                           : name == "suffix"  ? &form.suffix
                                               : nullptr;
      if (field != nullptr) {
        *field = value;
        ok = true;
      }
    }
    // A separator goes between hexadecimal bytes; a decimal number has none.
    if (ok && form.digits == IdForm::Digits::Decimal && !form.separator.empty())
      ok = false;
    if (!ok) {
      bad = word;
      return std::nullopt;
    }
    if (end == text.size())
      return form;
    start = end + 1;
  }
}

} // namespace pcsc
