// The form in which a card's ID is typed, printed or listed: the IDm or the FeliCa number, as
// hexadecimal digits or as a decimal number, in the byte order read or reversed, with a separator
// between bytes and a text before and after. varnelo-reader's --format and varnelo-input's
// settings spell it the same way, so the two programs always agree.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace pcsc {

struct IdForm {
  enum class Source { Idm, FelicaNumber };
  enum class Digits { Upper, Lower, Decimal };
  Source source = Source::Idm;
  Digits digits = Digits::Upper;
  bool reversed = false;
  std::string separator; // between bytes; with hexadecimal digits only
  std::string prefix, suffix;
  bool operator==(const IdForm&) const = default;
};

// The longest separator, prefix or suffix: a form is for an ID field, not for a text.
inline constexpr size_t kMaxFormText = 16;

// The 8 bytes, in the order the card gives them, in the form.
std::string FormatId(const std::array<uint8_t, 8>& bytes, const IdForm& form);

// The form as words joined by commas, the default's left out, so "" is the IDm as 16 upper-case
// hexadecimal digits. Words, in any case: upper (or hex), lower, decimal, reversed, idm,
// felica-number, separator=TEXT, prefix=TEXT, suffix=TEXT; TEXT is printable ASCII without a comma.
std::string IdFormText(const IdForm& form);
// Reads such words; nullopt with the first word that is unknown, conflicts with an earlier one or
// holds a text that cannot be typed, in bad.
std::optional<IdForm> ParseIdForm(const std::string& text, std::string& bad);

} // namespace pcsc
