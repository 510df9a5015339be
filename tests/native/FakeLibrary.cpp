// The fake reads every input the library would read and writes every output it would write,
// so a buffer that is too small or already gone shows up under AddressSanitizer.
#include "FakeLibrary.h"

#include <algorithm>
#include <numeric>

#include "felica/FelicaError.h"
#include "felica/Library.h"

namespace Fake {

std::array<Script, EntryCount> scripts;
Card card;
Recorded recorded;

namespace {

int32_t lastFelicaErrorType = 0;
int32_t lastRwErrorType = 0;
bool lastQueryFails = false;

bool Run(Entry entry) {
  ++recorded.calls[entry];
  const Script& script = scripts[entry];
  if (script.raises != 0) {
    RaiseRuntimeError(script.raises, L"fake: raised instead of calling");
  }
  if (!script.succeeds) {
    lastFelicaErrorType = script.felicaErrorType;
    lastRwErrorType = script.rwErrorType;
    lastQueryFails = script.errorQueryFails;
  }
  return script.succeeds;
}

} // namespace

void Reset() {
  scripts = {};
  card = Card{};
  recorded = Recorded{};
  lastFelicaErrorType = 0;
  lastRwErrorType = 0;
  lastQueryFails = false;
}

int32_t Calls(Entry entry) { return recorded.calls[entry]; }

int32_t LibraryCalls() {
  return std::accumulate(recorded.calls.begin(), recorded.calls.end(), 0) - recorded.calls[ErrorQuery];
}

} // namespace Fake

namespace FelicaAPI::Library {

using namespace Fake;

bool initialize_library() { return Run(Initialize); }
bool dispose_library() { return Run(Dispose); }
bool open_reader_writer_auto() { return Run(Open); }
bool close_reader_writer() { return Run(Close); }
bool stop_polling() { return Run(StopPolling); }

bool polling_and_get_card_information(const PollingParameters* parameters, uint8_t* cardCount,
                                      const CardInformationBuffers* buffers) {
  recorded.systemCode[0] = parameters->SystemCode[0];
  recorded.systemCode[1] = parameters->SystemCode[1];
  recorded.timeSlot = parameters->TimeSlot;
  if (!Run(Poll)) {
    return false;
  }
  if (card.writesOutputs) {
    *cardCount = card.count;
    std::copy_n(card.idm, 8, buffers->IDm);
    std::copy_n(card.pmm, 8, buffers->PMm);
  }
  return true;
}

bool read_block_without_encryption(const BlockReadParameters* parameters, const BlockReadOutputs* outputs) {
  recorded.idm.assign(parameters->IDm, parameters->IDm + 8);
  recorded.serviceCount = parameters->ServiceCount;
  recorded.serviceList.assign(parameters->ServiceCodeList, parameters->ServiceCodeList + 2 * parameters->ServiceCount);
  recorded.blockCount = parameters->BlockCount;
  recorded.blockList.assign(parameters->BlockList, parameters->BlockList + 2 * parameters->BlockCount);
  recorded.blockRoom = *outputs->BlockCount;
  if (!Run(BlockRead)) {
    return false;
  }
  if (card.writesOutputs) {
    // The whole room the caller offers is written, as a library answering that many blocks would.
    const size_t room = size_t{16} * recorded.blockRoom;
    std::fill_n(outputs->BlockData, room, uint8_t{0xEE});
    std::copy_n(card.blockData.begin(), std::min(card.blockData.size(), room), outputs->BlockData);
    *outputs->StatusFlag1 = card.statusFlag1;
    *outputs->StatusFlag2 = card.statusFlag2;
    *outputs->BlockCount = card.overstatesBlockCount ? uint8_t{250} : card.blocksRead;
  }
  return true;
}

bool get_last_error_types(int32_t* felicaErrorType, int32_t* rwErrorType) {
  const bool succeeds = Run(ErrorQuery) && !lastQueryFails;
  // Written even when the query fails: the caller must not read them then.
  *felicaErrorType = lastFelicaErrorType;
  *rwErrorType = lastRwErrorType;
  return succeeds;
}

} // namespace FelicaAPI::Library
