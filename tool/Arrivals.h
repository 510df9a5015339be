// What varnelo-reader does with each arriving card besides printing it: types its IDm in the
// chosen form, adds it to the list in a CSV file, sounds the system's beep.
#pragma once
#include <optional>
#include <string>

#include "CardLog.h"
#include "Cards.h"
#include "IdForm.h"
#include "Typist.h"

namespace pcsc {

struct ArrivalOptions {
  bool type = false;
  ThenKey then = ThenKey::Enter;
  std::string csv; // "" for no list
  bool beep = false;
  bool anyCard = false; // type other cards' UIDs too, all but those made up anew at each touch
  IdForm form;          // of a FeliCa card's ID
};

// A FeliCa card's ID in the form; nothing when the form wants the FeliCa number and the card
// gave none.
std::optional<std::string> FormedId(const CardId& card, const std::optional<FelicaNumber>& number,
                                    const IdForm& form);

class Arrivals {
public:
  explicit Arrivals(const ArrivalOptions& options) : options_(options) {}
  // Opens the list and, for typing, says that it waits and how to stop; false (said) when the
  // list cannot be opened.
  bool Start();
  // A FeliCa card is typed, listed and beeped for; another card only typed (and beeped for)
  // when any card is wanted.
  void Arrived(const CardId& card, const std::optional<FelicaNumber>& number);

private:
  bool Type(const CardId& card, const std::optional<FelicaNumber>& number);
  ArrivalOptions options_;
  CardLog log_;
};

} // namespace pcsc
