// varnelo-reader built over the stand-in service instead of winscard.dll. Its standard input
// plays the reader: "reader NAME" plugs one in, "place N" puts the card whose IDm ends in byte N
// (hexadecimal) on it, "place-plain N" the same card without a common area, "place-a UID" an ISO 14443 A card with that 4-byte UID, "remove" takes the
// card away.
#include <iostream>
#include <string>
#include <thread>

#include "FakePcsc.h"

namespace pcsc {
const Table& PlatformTable() { return fake::Table(); }
} // namespace pcsc

namespace {

void Control() {
  std::string reader, line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (line.starts_with("reader ")) {
      reader = line.substr(7);
      fake::AddReader(reader);
    } else if (line.starts_with("place ")) {
      const auto last = static_cast<uint8_t>(std::stoul(line.substr(6), nullptr, 16));
      fake::PlaceCard(reader, fake::StandardCard(fake::Dialect::Transparent, last));
    } else if (line.starts_with("place-plain ")) {
      fake::Card card = fake::StandardCard(fake::Dialect::Transparent, static_cast<uint8_t>(std::stoul(line.substr(12), nullptr, 16)));
      card.commonIdm.clear();
      fake::PlaceCard(reader, card);
    } else if (line.starts_with("place-a ")) {
      const auto uid = static_cast<uint32_t>(std::stoul(line.substr(8), nullptr, 16));
      fake::PlaceCard(reader, fake::OtherCard(false, {static_cast<uint8_t>(uid >> 24), static_cast<uint8_t>(uid >> 16),
                                                      static_cast<uint8_t>(uid >> 8), static_cast<uint8_t>(uid)}));
    } else if (line == "remove") {
      fake::RemoveCard(reader);
    }
  }
}

// Before main, so the first card can already be there when the tool looks.
const bool kStarted = [] {
  std::thread(Control).detach();
  return true;
}();

} // namespace
