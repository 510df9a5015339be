#include "Arrivals.h"

#include <algorithm>

#include "UserTexts.h"

namespace pcsc {

bool Arrivals::Start() {
  if (!options_.csv.empty()) {
    unsigned error = 0;
    // The ID in another form gets a column of its own.
    switch (log_.Open(options_.csv, error, options_.form != IdForm{})) {
    case CardLog::Opened::Ok:
      break;
    case CardLog::Opened::InUse:
      console::Complain(kCsvInUse, options_.csv);
      return false;
    case CardLog::Opened::Failed:
      console::Complain(kCsvOpenFailed, options_.csv + " (" + console::SystemMessage(error) + ")");
      return false;
    }
  }
  if (options_.type)
    console::Tell(kTypeWaiting);
  return true;
}

std::optional<std::string> FormedId(const CardId& card, const std::optional<FelicaNumber>& number,
                                    const IdForm& form) {
  if (form.source == IdForm::Source::FelicaNumber)
    return number ? std::optional(FormatId(*number, form)) : std::nullopt;
  Idm idm{};
  std::copy_n(card.id.begin(), std::min(card.id.size(), idm.size()), idm.begin());
  return FormatId(idm, form);
}

bool Arrivals::Type(const CardId& card, const std::optional<FelicaNumber>& number) {
  if (card.kind != CardKind::Felica && !options_.anyCard) {
    console::Tell(kNotTypedNotFelica);
    return false;
  }
  if (RandomId(card) || card.id.empty()) {
    console::Tell(card.id.empty() ? kNotTypedNoId : kNotTypedRandom);
    return false;
  }
  // Another card's UID has no form of its own: it is typed as the reader gives it.
  const std::optional<std::string> text =
      card.kind == CardKind::Felica ? FormedId(card, number, options_.form) : HexText(card.id);
  if (!text) {
    console::Tell(kNotTypedNoNumber);
    return false;
  }
  unsigned error = 0;
  switch (TypeText(*text, options_.then, error)) {
  case Typed::Done:
    return true;
  case Typed::Refused:
    console::Tell(kTypingRefused);
    break;
  case Typed::OwnConsole:
  case Typed::OwnWindow: // the tool's only window is its console
    console::Tell(kTypingOwnConsole);
    break;
  case Typed::NotPasted: // the tool only types keys
  case Typed::Failed:
    console::Tell(kTypingFailed, console::SystemMessage(error));
    break;
  }
  return false;
}

void Arrivals::Arrived(const CardId& card, const std::optional<FelicaNumber>& number) {
  const bool felica = card.kind == CardKind::Felica;
  // The other program first: the person waits for the IDm there.
  const bool typed = options_.type && Type(card, number);
  // The list holds IDms only: another card's number is never one.
  if (felica && !options_.csv.empty()) {
    Idm idm;
    std::copy_n(card.id.begin(), idm.size(), idm.begin());
    // What type typed, or what watch shows; nothing for a card not typed.
    const std::string formed = !options_.type || typed ? FormedId(card, number, options_.form).value_or("") : "";
    std::string line;
    unsigned error = 0;
    if (!log_.Add(idm, line, error, formed))
      console::Complain(kCsvWriteFailed, line.substr(0, line.find('\r')) + " (" + console::SystemMessage(error) + ")");
  }
  if (options_.beep && (felica || typed))
    Beep();
}

} // namespace pcsc
