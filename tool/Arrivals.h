// What varnelo-reader does with each arriving card besides printing it: types its IDm, adds it
// to the list in a CSV file, sounds the system's beep.
#pragma once
#include <string>

#include "CardLog.h"
#include "Typist.h"

namespace pcsc {

struct ArrivalOptions {
  bool type = false;
  ThenKey then = ThenKey::Enter;
  std::string csv; // "" for no list
  bool beep = false;
};

class Arrivals {
public:
  explicit Arrivals(const ArrivalOptions& options) : options_(options) {}
  // Opens the list and, for typing, says that it waits and how to stop; false (said) when the
  // list cannot be opened.
  bool Start();
  void Arrived(const Idm& idm);

private:
  ArrivalOptions options_;
  CardLog log_;
};

} // namespace pcsc
