#include "Cards.h"

#include <algorithm>

namespace sim {
namespace {

Block MakeBlock(std::initializer_list<uint8_t> bytes) {
  Block b{};
  std::copy(bytes.begin(), bytes.end(), b.begin());
  return b;
}

// A system that every card carries besides the common area, with some data to read.
System SecondSystem() {
  return {kSecondSystem,
          {{0x100B, {MakeBlock({0x16, 0x01, 0x00, 0x02, 0x2C, 0x85}), MakeBlock({0x16, 0x01, 0x00, 0x02, 0x2C, 0x84})}},
           {0x108B, {MakeBlock({0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE8, 0x03})}}}};
}

} // namespace

std::optional<Card> BuiltInCard(int kind) {
  switch (kind) {
  case 0:
    return Card{{0x01, 0x2E, 0x4C, 0x8A, 0x1B, 0x3D, 0x5F, 0x70},
                {0x03, 0x01, 0x4B, 0x02, 0x4F, 0x49, 0x93, 0xFF},
                {{kCommonAreaSystem,
                  {{kFelicaNumberService,
                    {MakeBlock({0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x01}),
                     MakeBlock({0x20, 0x26, 0x04, 0x01})}}}},
                 SecondSystem()}};
  case 1:
    return Card{{0x01, 0x2E, 0x4C, 0x8A, 0x1B, 0x3D, 0x5F, 0x71},
                {0x03, 0x01, 0x4B, 0x02, 0x4F, 0x49, 0x93, 0xFF},
                {SecondSystem()}};
  case 2:
    return Card{{0x01, 0x2E, 0x4C, 0x8A, 0x1B, 0x3D, 0x5F, 0x72},
                {0x03, 0x01, 0x4B, 0x02, 0x4F, 0x49, 0x93, 0xFF},
                {{kCommonAreaSystem, {{0x1A8B, {MakeBlock({0x55, 0xAA, 0x55, 0xAA})}}}}, SecondSystem()}};
  default:
    return std::nullopt;
  }
}

Card CustomCard(const uint8_t* idm8, const uint8_t* pmm8, bool hasCommonArea, const uint8_t* block0) {
  Card card{};
  std::copy(idm8, idm8 + 8, card.idm.begin());
  std::copy(pmm8, pmm8 + 8, card.pmm.begin());
  if (hasCommonArea) {
    Block b{};
    if (block0)
      std::copy(block0, block0 + 16, b.begin());
    card.systems.push_back({kCommonAreaSystem, {{kFelicaNumberService, {b}}}});
  }
  card.systems.push_back(SecondSystem());
  return card;
}

bool SystemMatches(uint16_t system, uint8_t high, uint8_t low) {
  return (high == 0xFF || high == (system >> 8)) && (low == 0xFF || low == (system & 0xFF));
}

bool HasSystem(const Card& card, uint8_t high, uint8_t low) {
  return std::any_of(card.systems.begin(), card.systems.end(),
                     [&](const System& s) { return SystemMatches(s.code, high, low); });
}

const Service* FindService(const Card& card, uint16_t code) {
  for (const System& system : card.systems)
    for (const Service& service : system.services)
      if (service.code == code)
        return &service;
  return nullptr;
}

} // namespace sim
