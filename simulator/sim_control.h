// Control surface of the simulated reader library, for tests and demonstrations.
// These exports carry the prefix sim_ so they are never mistaken for the library's own ten entry points.
// All functions are __stdcall, like the entry points, and safe to call from any thread.
#pragma once
#include <stdint.h>

#ifdef __cplusplus
#define SIM_EXTERN extern "C"
#define SIM_NOEXCEPT noexcept
#else
#define SIM_EXTERN
#define SIM_NOEXCEPT
#endif
#ifdef FELICA_SIM_BUILD
#define SIM_API SIM_EXTERN __declspec(dllexport)
#else
#define SIM_API SIM_EXTERN __declspec(dllimport)
#endif
#define SIM_CALL __stdcall

// Back to the state at load: library not initialised, reader attached and closed, no card, polling
// stopped, callback parameters forgotten, no failures, no latency, no misbehaviour, empty log.
SIM_API void SIM_CALL sim_reset(void) SIM_NOEXCEPT;

// Reader/writer plugged in (non-zero) or not. Unplugging closes an open reader.
SIM_API void SIM_CALL sim_attach_reader(int32_t attached) SIM_NOEXCEPT;

// Built-in virtual cards (see simulator/README.md for their IDm, PMm, systems and blocks):
//   0  the default card: systems FE00 (common area, service 33CB, block 0 holds a FeliCa number) and 0003
//   1  a card with system 0003 only (no common area: its FeliCa number can't be read)
//   2  a card with system FE00 but without service 33CB
SIM_API int32_t SIM_CALL sim_card_kinds(void) SIM_NOEXCEPT;
// Places built-in card `kind` over the reader, replacing any card there. Returns 0 for an unknown kind.
SIM_API int32_t SIM_CALL sim_place_card(int32_t kind) SIM_NOEXCEPT;
// Places a card with the given IDm and PMm; hasCommonArea gives it system FE00 whose service 33CB
// block 0 holds block0 (16 bytes; may be null when hasCommonArea is 0). It also has system 0003.
SIM_API void SIM_CALL sim_place_custom_card(const uint8_t* idm8, const uint8_t* pmm8,
                                            int32_t hasCommonArea, const uint8_t* block0) SIM_NOEXCEPT;
SIM_API void SIM_CALL sim_remove_card(void) SIM_NOEXCEPT;
// Copies the IDm of built-in card `kind` into idm8. Returns 0 for an unknown kind.
SIM_API int32_t SIM_CALL sim_card_idm(int32_t kind, uint8_t* idm8) SIM_NOEXCEPT;

// Makes an entry point (by its exact name) fail with the given error types: the next `times` calls,
// or every call while times < 0. A later sim_fail for the same entry point replaces the earlier one.
// Returns 0 for an unknown name.
SIM_API int32_t SIM_CALL sim_fail(const char* entryPoint, int32_t felicaType, int32_t rwType, int32_t times) SIM_NOEXCEPT;
SIM_API void SIM_CALL sim_clear_failures(void) SIM_NOEXCEPT;
// While on, get_last_error_types fails (returns 0 and leaves both outputs untouched).
SIM_API void SIM_CALL sim_fail_error_query(int32_t on) SIM_NOEXCEPT;

// Adds a delay to every call of an entry point ("*" for all ten). Returns 0 for an unknown name.
SIM_API int32_t SIM_CALL sim_set_latency(const char* entryPoint, int32_t milliseconds) SIM_NOEXCEPT;

// Deliberate misbehaviour of a broken library, for fault tests.
enum {
  SIM_BEHAVE_NORMALLY = 0,
  SIM_SUCCEED_WITHOUT_OUTPUT = 1, // polling and block read report success and write nothing
  SIM_OVERSTATE_BLOCK_COUNT = 2,  // block read reports more blocks than the buffer has room for
};
SIM_API void SIM_CALL sim_misbehave(int32_t mode) SIM_NOEXCEPT;

// State, as the library sees it.
SIM_API int32_t SIM_CALL sim_is_initialized(void) SIM_NOEXCEPT;
SIM_API int32_t SIM_CALL sim_is_reader_open(void) SIM_NOEXCEPT;
SIM_API int32_t SIM_CALL sim_is_polling(void) SIM_NOEXCEPT;
// Card-event messages the polling thread has delivered since the last sim_reset.
SIM_API int32_t SIM_CALL sim_events_delivered(void) SIM_NOEXCEPT;

// Call log: one line for every call of the ten entry points, in call order, as
//   <entry point>[ <name>=<value>...] -> <result flag>
// e.g. "polling_and_get_card_information system=FE00 slot=0 -> 1",
//      "read_block_without_encryption idm=0123456789ABCDEF services=1 service_list=CB33 blocks=1
//       block_list=8000 block_count_in=2 -> 1" (one line),
//      "set_call_back_parameters hwnd=0001002A find=FelicaAPI_callback_find loss=FelicaAPI_callback_loss p1=0 p2=1 -> 1",
//      "start_polling system=FFFF slot=0 -> 1", "get_last_error_types -> 1".
// Byte lists are upper-case hex in memory order; the handle is 8 upper-case hex digits.
// A null pointer argument is logged as <name>=null.
SIM_API int32_t SIM_CALL sim_log_count(void) SIM_NOEXCEPT;
// Copies line `index` (NUL-terminated, truncated to size) and returns its full length, or -1.
SIM_API int32_t SIM_CALL sim_log_line(int32_t index, char* buffer, int32_t size) SIM_NOEXCEPT;
SIM_API void SIM_CALL sim_log_clear(void) SIM_NOEXCEPT;
// Calls of one entry point in the log.
SIM_API int32_t SIM_CALL sim_call_count(const char* entryPoint) SIM_NOEXCEPT;
