// The PC/SC library built over the stand-in service instead of winscard.dll, with a few
// exports that let a test place readers and cards and make calls fail.
#include <cstdint>

#include "FakePcsc.h"

namespace pcsc {
const Table& PlatformTable() { return fake::Table(); }
} // namespace pcsc

#define STANDIN_EXPORT extern "C" __declspec(dllexport)

STANDIN_EXPORT void standin_reset() { fake::Reset(); }
STANDIN_EXPORT void standin_add_reader(const char* name) { fake::AddReader(name); }
STANDIN_EXPORT void standin_remove_reader(const char* name) { fake::RemoveReader(name); }
STANDIN_EXPORT void standin_remove_card(const char* reader) { fake::RemoveCard(reader); }
STANDIN_EXPORT void standin_fail_next(int call, uint32_t code) { fake::FailNext(static_cast<fake::Call>(call), code); }

// flags: 1 without a common area, 2 without the FeliCa number's service, 4 the escape channel
// refused by the driver's settings, 8 the common area is system 0; 16 not FeliCa: an ISO 14443 A
// card with a 4-byte UID, 32 an ISO 15693 tag with an 8-byte one, both ending in last; 64 the
// number's read answered with a block more than its count.
STANDIN_EXPORT void standin_place_card(const char* reader, int dialect, uint8_t last, int flags) {
  if (flags & 48) {
    const bool tag = (flags & 32) != 0;
    std::vector<uint8_t> uid = tag ? std::vector<uint8_t>{0xE0, 0x04, 0x01, 0x00, 0x12, 0x34, 0x56, last}
                                   : std::vector<uint8_t>{0x04, 0xA1, 0xB2, last};
    fake::Card card = fake::OtherCard(tag, uid);
    card.dialect = static_cast<fake::Dialect>(dialect);
    return fake::PlaceCard(reader, card);
  }
  fake::Card card = fake::StandardCard(static_cast<fake::Dialect>(dialect), last);
  if (flags & 1)
    card.commonIdm.clear();
  if (flags & 2)
    card.numberBlock.clear();
  card.escapeRefused = (flags & 4) != 0;
  if (flags & 8)
    card.commonIdm = card.idm;
  if (flags & 64)
    card.numberBlock.insert(card.numberBlock.end(), card.numberBlock.begin(), card.numberBlock.end());
  fake::PlaceCard(reader, card);
}

// 0: the status wait returns at once, as in some Wine versions.
STANDIN_EXPORT void standin_wait_blocks(int blocks) {
  std::lock_guard<std::mutex> guard(fake::GetService().mutex);
  fake::GetService().waitBlocks = blocks != 0;
}

STANDIN_EXPORT int standin_open_contexts() {
  std::lock_guard<std::mutex> guard(fake::GetService().mutex);
  return fake::GetService().openContexts;
}

STANDIN_EXPORT unsigned standin_calls(int call) {
  std::lock_guard<std::mutex> guard(fake::GetService().mutex);
  return fake::GetService().calls[call];
}

// The codes of the control calls so far, as many as fit; gives their number.
STANDIN_EXPORT int standin_control_codes(uint32_t* codes, int room) {
  std::lock_guard<std::mutex> guard(fake::GetService().mutex);
  const auto& seen = fake::GetService().controlCodes;
  for (size_t i = 0; i < seen.size() && static_cast<int>(i) < room; ++i)
    codes[i] = seen[i];
  return static_cast<int>(seen.size());
}
