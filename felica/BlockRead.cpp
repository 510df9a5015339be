// Block read without encryption, and the FeliCa number: block 0 of service 33CB in the common area.
#include <limits>

#include "ErrorDescription.h"
#include "FelicaAPI.h"
#include "Library.h"

namespace FelicaAPI {

namespace {

constexpr size_t BlockSize = 16;
constexpr size_t IdmLength = 8;

// The library takes each list's length as one byte and the address of its first element.
uint8_t ListLength(std::span<const uint8_t> list) {
  if (list.empty()) {
    RaiseSubscriptOutOfRange();
  }
  if (list.size() > std::numeric_limits<uint8_t>::max()) {
    RaiseOverflow();
  }
  return static_cast<uint8_t>(list.size());
}

} // namespace

BlockReadResult ReadBlockWithoutEncryption(std::span<const uint8_t> idm, std::span<const uint8_t> serviceList,
                                           std::span<const uint8_t> blockList) {
  // The library reads a whole IDm from the address it is given.
  if (idm.size() < IdmLength) {
    RaiseSubscriptOutOfRange();
  }
  uint8_t serviceBytes = ListLength(serviceList);
  uint8_t blockBytes = ListLength(blockList);
  const Library::BlockReadParameters parameters{idm.data(), static_cast<uint8_t>(serviceBytes / 2),
                                                serviceList.data(), static_cast<uint8_t>(blockBytes / 2),
                                                blockList.data()};

  // Room for one block per byte of the block list, more than the elements need.
  BlockReadResult result{0, 0, blockBytes, std::vector<uint8_t>(BlockSize * blockBytes, 0)};
  const Library::BlockReadOutputs outputs{&result.StatusFlag1, &result.StatusFlag2, &result.BlockCount,
                                          result.BlockData.data()};
  if (!Library::read_block_without_encryption(&parameters, &outputs)) {
    RaiseFelicaError(L"ReadBlockWithoutEncryption", ErrorKindOperation);
  }
  return result;
}

BlockReadResult ReadBlock(std::span<const uint8_t> idm, uint8_t service1, uint8_t service2, uint8_t block1,
                          uint8_t block2) {
  const uint8_t serviceList[2] = {service1, service2};
  const uint8_t blockList[2] = {block1, block2};
  return ReadBlockWithoutEncryption(idm, serviceList, blockList);
}

std::wstring ReadFelicaNumber() {
  CardInformation card = PollCard(0xFE, 0x00, 0);
  if (card.CardCount == 0) {
    return L"";
  }
  // Service 33CB goes low byte first; 80 00 is a two-byte element naming block 0 of that service.
  BlockReadResult block = ReadBlock(card.IDm, 0xCB, 0x33, 0x80, 0x00);
  return BytesToHex(block.BlockData, 8, 8);
}

std::wstring GetFelicaNumber() noexcept {
  try {
    return ReadFelicaNumber();
  } catch (...) {
    return std::wstring();
  }
}

} // namespace FelicaAPI
