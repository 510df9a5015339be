// Virtual FeliCa cards: several systems, each with its own IDm, and the services the tests read.
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct CardSystem {
  uint16_t code;
  Bytes idm;                                // 8 bytes; the upper nibble of byte 0 is the system number
  std::map<uint16_t, std::vector<Bytes>> services;  // service code -> 16-byte blocks
};

struct VirtualCard {
  std::string name;
  Bytes pmm;
  std::vector<CardSystem> systems;          // system 0 first: it answers an FF FF poll; none: not FeliCa
  Bytes atr = {};                           // a card that is not FeliCa: its own ATR
  Bytes uid = {};                           // and its identifier by GET DATA; empty: none (a contact card)
};

// The card of that name from the fixed catalogue, or nothing.
std::optional<VirtualCard> FindCard(const std::string& name);
std::vector<std::string> CardNames();

// The card's answer to one FeliCa frame (length byte first), or nothing when a real card would
// stay silent: unknown command, a system it lacks, an IDm that is not one of its own.
std::optional<Bytes> AnswerFrame(const VirtualCard& card, const Bytes& frame);

Bytes ParseHex(const std::string& hex);     // "01 2E" or "012E"; throws std::invalid_argument
std::string Hex(const Bytes& bytes);        // upper case, no separators
