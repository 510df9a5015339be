// Beside this program: a felica_for_vb.dll without stop_polling.
#include "loading.h"

using namespace FelicaAPI;

TEST(MissingEntryPoint, RaisesEntryPointNotFoundNamingItAndTheLibrary) {
  EXPECT_NO_THROW(InitializeLibrary());

  for (int attempt = 0; attempt < 2; ++attempt) {
    FelicaError error = CaughtError(StopPolling);
    EXPECT_EQ(error.Number, 453);
    EXPECT_EQ(error.Source, L"Varnelo");
    EXPECT_NE(error.Description.find(L"stop_polling"), std::wstring::npos) << error.Description;
    EXPECT_NE(error.Description.find(L"felica_for_vb.dll"), std::wstring::npos) << error.Description;
  }

  // The entry points that are there still work.
  EXPECT_NO_THROW(OpenReaderWriterAuto());
  EXPECT_NO_THROW(CloseReaderWriter());
  EXPECT_NO_THROW(DisposeLibrary());
}
