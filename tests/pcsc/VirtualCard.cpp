#include "VirtualCard.h"

#include <stdexcept>

namespace {

Bytes Block(const std::string& hex) { return ParseHex(hex); }

const Bytes kPmm = ParseHex("03014B024F4993FF");

std::vector<VirtualCard> Catalogue() {
  const Bytes number = Block("123456789ABCDEF00000000000000101");
  return {
      // Two systems: the FF FF poll finds 0003 (system 0), FE 00 the common area (system 1).
      {"standard", kPmm,
       {{0x0003, ParseHex("012E4C8A1B3D5F70"), {{0x100B, {Block("00112233445566778899AABBCCDDEEFF")}}}},
        {0xFE00, ParseHex("112E4C8A1B3D5F70"), {{0x33CB, {number, Block("FFEEDDCCBBAA99887766554433221100")}}}}}},
      {"other", ParseHex("0120220427674EFF"),
       {{0x0003, ParseHex("0101020304050607"), {}},
        {0xFE00, ParseHex("1101020304050607"), {{0x33CB, {Block("0011223344556677000000000000FFFF")}}}}}},
      {"no-common", kPmm, {{0x0003, ParseHex("012E4C8A1B3D5F71"), {}}}},
      {"no-number", kPmm,
       {{0x0003, ParseHex("012E4C8A1B3D5F72"), {}},
        {0xFE00, ParseHex("112E4C8A1B3D5F72"), {{0x1A8B, {Block("A0A1A2A3A4A5A6A7A8A9AAABACADAEAF")}}}}}},
      // The common area is system 0: a reader that reaches only the first system reaches the number.
      {"common-first", kPmm, {{0xFE00, ParseHex("012E4C8A1B3D5F74"), {{0x33CB, {number}}}}}},
      // The number's service is there but holds no block 0: the card answers with status flags.
      {"empty-number", kPmm,
       {{0x0003, ParseHex("012E4C8A1B3D5F73"), {}}, {0xFE00, ParseHex("112E4C8A1B3D5F73"), {{0x33CB, {}}}}}},
      // Cards that are not FeliCa, with the ATR and identifier their readers give them.
      {"mifare", {}, {}, ParseHex("3B8F8001804F0CA000000306030001000000006A"), ParseHex("04A1B2C3")},
      {"iso14443a7", {}, {}, ParseHex("3B8180018080"), ParseHex("04A1B2C3D4E580")},
      {"iso14443a10", {}, {}, ParseHex("3B8A80010031C173C8400000900090"), ParseHex("04A1B2C3D4E5F6071829")},
      {"random", {}, {}, ParseHex("3B80800101"), ParseHex("08A1B2C3")},
      {"iso14443b", {}, {}, ParseHex("3B88800100000000338181003A"), ParseHex("1A2B3C4D")},
      {"iso15693", {}, {}, ParseHex("3B8F8001804F0CA0000003060B00140000000077"), ParseHex("E004010012345678")},
      {"contact", {}, {}, ParseHex("3B6800008066A2060201320E"), {}},
  };
}

bool SystemMatches(uint16_t polled, uint16_t code) {
  const bool hi = (polled >> 8) == 0xFF || (polled >> 8) == (code >> 8);
  const bool lo = (polled & 0xFF) == 0xFF || (polled & 0xFF) == (code & 0xFF);
  return hi && lo;
}

std::optional<Bytes> Poll(const VirtualCard& card, const Bytes& f) {
  if (f.size() != 6) return std::nullopt;
  const uint16_t polled = static_cast<uint16_t>(f[2] << 8 | f[3]);
  for (const CardSystem& s : card.systems) {
    if (!SystemMatches(polled, s.code)) continue;
    Bytes r{0x12, 0x01};
    r.insert(r.end(), s.idm.begin(), s.idm.end());
    r.insert(r.end(), card.pmm.begin(), card.pmm.end());
    if (f[4] == 0x01) r.insert(r.end(), {static_cast<uint8_t>(s.code >> 8), static_cast<uint8_t>(s.code)});
    r[0] = static_cast<uint8_t>(r.size());
    return r;
  }
  return std::nullopt;
}

// Read Without Encryption: 06 IDm n services(low byte first) m blocks(2 or 3 bytes each).
std::optional<Bytes> Read(const VirtualCard& card, const Bytes& f) {
  if (f.size() < 12) return std::nullopt;
  const Bytes idm(f.begin() + 2, f.begin() + 10);
  const CardSystem* system = nullptr;
  for (const CardSystem& s : card.systems)
    if (s.idm == idm) system = &s;
  if (system == nullptr) return std::nullopt;
  Bytes r{0, 0x07};
  r.insert(r.end(), idm.begin(), idm.end());
  auto flags = [&](uint8_t f1, uint8_t f2) {
    r.insert(r.end(), {f1, f2});
    r[0] = static_cast<uint8_t>(r.size());
    return r;
  };
  const size_t services = f[10];
  size_t at = 11 + 2 * services;
  if (services == 0 || services > 16 || at >= f.size()) return flags(0xFF, 0xA1);
  const size_t blocks = f[at++];
  Bytes data;
  for (size_t i = 0; i < blocks; ++i) {
    if (at + 2 > f.size()) return flags(0xFF, 0xA2);
    const uint8_t head = f[at];
    const size_t order = head & 0x0F;
    size_t number = f[at + 1];
    at += 2;
    if ((head & 0x80) == 0) {  // a 3-byte element: two number bytes, low byte first
      if (at >= f.size()) return flags(0xFF, 0xA2);
      number |= static_cast<size_t>(f[at++]) << 8;
    }
    if (order >= services) return flags(static_cast<uint8_t>(i + 1), 0xA3);
    const uint16_t code = static_cast<uint16_t>(f[11 + 2 * order] | f[12 + 2 * order] << 8);
    auto service = system->services.find(code);
    if (service == system->services.end()) return flags(static_cast<uint8_t>(i + 1), 0xA6);
    if (number >= service->second.size()) return flags(static_cast<uint8_t>(i + 1), 0xA8);
    data.insert(data.end(), service->second[number].begin(), service->second[number].end());
  }
  r.insert(r.end(), {0x00, 0x00, static_cast<uint8_t>(blocks)});
  r.insert(r.end(), data.begin(), data.end());
  r[0] = static_cast<uint8_t>(r.size());
  return r;
}

// Request System Code: 0C IDm, answered by the system of that IDm with all the card's systems.
std::optional<Bytes> SystemCodes(const VirtualCard& card, const Bytes& f) {
  bool known = false;
  for (const CardSystem& s : card.systems) known = known || (f.size() == 10 && s.idm == Bytes(f.begin() + 2, f.end()));
  if (!known) return std::nullopt;
  Bytes r = f;
  r[1] = 0x0D;
  r.push_back(static_cast<uint8_t>(card.systems.size()));
  for (const CardSystem& s : card.systems) r.insert(r.end(), {static_cast<uint8_t>(s.code >> 8), static_cast<uint8_t>(s.code)});
  r[0] = static_cast<uint8_t>(r.size());
  return r;
}

}  // namespace

std::optional<VirtualCard> FindCard(const std::string& name) {
  for (VirtualCard& c : Catalogue())
    if (c.name == name) return c;
  return std::nullopt;
}

std::vector<std::string> CardNames() {
  std::vector<std::string> names;
  for (const VirtualCard& c : Catalogue()) names.push_back(c.name);
  return names;
}

std::optional<Bytes> AnswerFrame(const VirtualCard& card, const Bytes& frame) {
  if (frame.size() < 2 || frame[0] != frame.size()) return std::nullopt;
  if (frame[1] == 0x00) return Poll(card, frame);
  if (frame[1] == 0x06) return Read(card, frame);
  if (frame[1] == 0x0C) return SystemCodes(card, frame);
  return std::nullopt;
}

Bytes ParseHex(const std::string& hex) {
  Bytes out;
  int high = -1;
  for (char c : hex) {
    if (c == ' ' || c == ':') continue;
    int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (v < 0) throw std::invalid_argument("not hex: " + hex);
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<uint8_t>(high << 4 | v));
      high = -1;
    }
  }
  if (high >= 0) throw std::invalid_argument("odd hex: " + hex);
  return out;
}

std::string Hex(const Bytes& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  for (uint8_t b : bytes) {
    s += digits[b >> 4];
    s += digits[b & 15];
  }
  return s;
}
