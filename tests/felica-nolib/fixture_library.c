/* A minimal felica_for_vb.dll for the loading tests: every call succeeds. Built once complete and
   once without stop_polling. */
#include <stdint.h>

#define ENTRY __declspec(dllexport) unsigned char __stdcall

ENTRY initialize_library(void) { return 1; }
ENTRY dispose_library(void) { return 1; }
ENTRY open_reader_writer_auto(void) { return 1; }
ENTRY close_reader_writer(void) { return 1; }
ENTRY polling_and_get_card_information(const void* parameters, uint8_t* cardCount, const void* buffers) {
  (void)parameters;
  (void)buffers;
  *cardCount = 0;
  return 1;
}
ENTRY read_block_without_encryption(const void* parameters, const void* outputs) {
  (void)parameters;
  (void)outputs;
  return 1;
}
ENTRY get_last_error_types(int32_t* felicaErrorType, int32_t* rwErrorType) {
  *felicaErrorType = 0;
  *rwErrorType = 0;
  return 1;
}
ENTRY set_call_back_parameters(const void* parameters) {
  (void)parameters;
  return 1;
}
ENTRY start_polling(const void* parameters) {
  (void)parameters;
  return 1;
}
#ifndef WITHOUT_STOP_POLLING
ENTRY stop_polling(void) { return 1; }
#endif
