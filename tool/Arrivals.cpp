#include "Arrivals.h"

#include <algorithm>

#include "UserTexts.h"

namespace pcsc {

bool Arrivals::Start() {
  if (!options_.csv.empty()) {
    unsigned error = 0;
    switch (log_.Open(options_.csv, error)) {
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

bool Arrivals::Type(const CardId& card) {
  if (card.kind != CardKind::Felica && !options_.anyCard) {
    console::Tell(kNotTypedNotFelica);
    return false;
  }
  if (RandomId(card) || card.id.empty()) {
    console::Tell(card.id.empty() ? kNotTypedNoId : kNotTypedRandom);
    return false;
  }
  unsigned error = 0;
  switch (TypeText(HexText(card.id), options_.then, error)) {
  case Typed::Done:
    return true;
  case Typed::Refused:
    console::Tell(kTypingRefused);
    break;
  case Typed::OwnConsole:
    console::Tell(kTypingOwnConsole);
    break;
  case Typed::Failed:
    console::Tell(kTypingFailed, console::SystemMessage(error));
    break;
  }
  return false;
}

void Arrivals::Arrived(const CardId& card) {
  const bool felica = card.kind == CardKind::Felica;
  // The other program first: the person waits for the IDm there.
  const bool typed = options_.type && Type(card);
  // The list holds IDms only: another card's number is never one.
  if (felica && !options_.csv.empty()) {
    Idm idm;
    std::copy_n(card.id.begin(), idm.size(), idm.begin());
    std::string line;
    unsigned error = 0;
    if (!log_.Add(idm, line, error))
      console::Complain(kCsvWriteFailed, line.substr(0, line.find('\r')) + " (" + console::SystemMessage(error) + ")");
  }
  if (options_.beep && (felica || typed))
    Beep();
}

} // namespace pcsc
