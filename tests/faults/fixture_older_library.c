/* A felica_for_vb.dll of an older make for the fault matrix: it lacks read_block_without_encryption
   and start_polling, always has the card 0123456789ABCDEF on its reader, and says through
   fixture_holds what it still holds (1 initialised, 2 reader open). */
#include <stdint.h>
#include <string.h>

#define ENTRY __declspec(dllexport) unsigned char __stdcall

struct PollingParameters {
  const uint8_t* systemCode;
  uint8_t timeSlot;
};
struct CardInformationBuffers {
  uint8_t* idm;
  uint8_t* pmm;
};

static int initialized, readerOpen;
static int32_t lastFelicaType = 1000, lastRwType = 100;

static unsigned char Fail(int32_t felicaType, int32_t rwType) {
  lastFelicaType = felicaType;
  lastRwType = rwType;
  return 0;
}

ENTRY initialize_library(void) {
  if (initialized) return Fail(1006, 106);
  initialized = 1;
  return 1;
}
ENTRY dispose_library(void) {
  if (!initialized) return Fail(1005, 105);
  initialized = readerOpen = 0;
  return 1;
}
ENTRY open_reader_writer_auto(void) {
  if (!initialized) return Fail(1005, 105);
  if (readerOpen) return Fail(1030, 121);
  readerOpen = 1;
  return 1;
}
ENTRY close_reader_writer(void) {
  if (!initialized) return Fail(1005, 105);
  if (!readerOpen) return Fail(1029, 120);
  readerOpen = 0;
  return 1;
}
ENTRY polling_and_get_card_information(const struct PollingParameters* parameters, uint8_t* cardCount,
                                       const struct CardInformationBuffers* buffers) {
  static const uint8_t idm[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  if (!initialized) return Fail(1005, 105);
  if (!parameters || !parameters->systemCode || !cardCount || !buffers || !buffers->idm || !buffers->pmm)
    return Fail(1002, 102);
  if (!readerOpen) return Fail(1029, 120);
  *cardCount = 1;
  memcpy(buffers->idm, idm, 8);
  memset(buffers->pmm, 0xFF, 8);
  return 1;
}
ENTRY get_last_error_types(int32_t* felicaErrorType, int32_t* rwErrorType) {
  if (!initialized || !felicaErrorType || !rwErrorType) return 0;
  *felicaErrorType = lastFelicaType;
  *rwErrorType = lastRwType;
  return 1;
}
ENTRY set_call_back_parameters(const void* parameters) {
  if (!initialized) return Fail(1005, 105);
  return parameters ? 1 : Fail(1002, 102);
}
ENTRY stop_polling(void) { return Fail(1035, 100); }

__declspec(dllexport) int32_t __stdcall fixture_holds(void) { return (initialized ? 1 : 0) | (readerOpen ? 2 : 0); }
