#include "Arrivals.h"

#include "UserTexts.h"

namespace pcsc {

bool Arrivals::Start() {
  if (!options_.csv.empty()) {
    unsigned error = 0;
    switch (log_.Open(options_.csv, error)) {
    case CardLog::Opened::Ok:
      break;
    case CardLog::Opened::InUse:
      console::Tell(kCsvInUse, options_.csv);
      return false;
    case CardLog::Opened::Failed:
      console::Tell(kCsvOpenFailed, std::to_string(error) + " " + options_.csv);
      return false;
    }
  }
  if (options_.type)
    console::Tell(kTypeWaiting);
  return true;
}

void Arrivals::Arrived(const Idm& idm) {
  // The other program first: the person waits for the IDm there.
  if (options_.type) {
    unsigned error = 0;
    switch (TypeText(IdmText(idm), options_.then, error)) {
    case Typed::Done:
      break;
    case Typed::Refused:
      console::Tell(kTypingRefused);
      break;
    case Typed::OwnConsole:
    case Typed::OwnWindow: // the tool's only window is its console
      console::Tell(kTypingOwnConsole);
      break;
    case Typed::NotPasted: // the tool only types keys
    case Typed::Failed:
      console::Tell(kTypingFailed, std::to_string(error));
      break;
    }
  }
  if (!options_.csv.empty()) {
    std::string line;
    unsigned error = 0;
    if (!log_.Add(idm, line, error))
      console::Tell(kCsvWriteFailed, std::to_string(error) + " " + line.substr(0, line.find('\r')));
  }
  if (options_.beep)
    Beep();
}

} // namespace pcsc
