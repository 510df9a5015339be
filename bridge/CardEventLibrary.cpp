// What the bridge hands the reader library: the window and message names, and the start of
// the library's own polling.
#include "bridge/CardEventBridge.h"

#include "felica/FelicaAPI.h"
#include "felica/Library.h"

namespace FelicaAPI {

void SetCallbackParameters(HWND window, int32_t parameter1, int32_t parameter2) {
  CallbackMessages messages = GetCallbackMessages();
  bool succeeded;
  {
    std::string findName = SingleByteText(messages.FindMessageName);
    std::string lossName = SingleByteText(messages.LossMessageName);
    Library::CallbackParameters parameters{window, findName.c_str(), lossName.c_str(), parameter1, parameter2};
    succeeded = Library::set_call_back_parameters(&parameters);
  }
  if (!succeeded) RaiseFelicaError(L"SetCallbackParameters", ErrorKindOperation);
}

void StartPolling(uint8_t systemCode1, uint8_t systemCode2, uint8_t timeSlot) {
  const uint8_t systemCode[2] = {systemCode1, systemCode2};
  Library::PollingParameters parameters{systemCode, timeSlot};
  if (!Library::start_polling(&parameters)) RaiseFelicaError(L"StartPolling", ErrorKindOperation);
}

} // namespace FelicaAPI
