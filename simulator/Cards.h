// The virtual cards: identity, systems, and per system the services and their blocks.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace sim {

using Block = std::array<uint8_t, 16>;

struct Service {
  uint16_t code;
  std::vector<Block> blocks;
};

struct System {
  uint16_t code;
  std::vector<Service> services;
};

struct Card {
  std::array<uint8_t, 8> idm;
  std::array<uint8_t, 8> pmm;
  std::vector<System> systems;
};

constexpr uint16_t kCommonAreaSystem = 0xFE00;
constexpr uint16_t kFelicaNumberService = 0x33CB;
constexpr uint16_t kSecondSystem = 0x0003;
constexpr int kBuiltInCardKinds = 3;

std::optional<Card> BuiltInCard(int kind);
Card CustomCard(const uint8_t* idm8, const uint8_t* pmm8, bool hasCommonArea, const uint8_t* block0);

// A polled code matches a system when each byte is equal or FF (the wildcard).
bool SystemMatches(uint16_t system, uint8_t high, uint8_t low);
bool HasSystem(const Card& card, uint8_t high, uint8_t low);
// The service by code, in whichever of the card's systems holds it.
const Service* FindService(const Card& card, uint16_t code);

} // namespace sim
