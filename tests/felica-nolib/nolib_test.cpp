// This program's folder holds no felica_for_vb.dll.
#include "loading.h"

using namespace FelicaAPI;

TEST(MissingLibrary, EveryCallRaisesFileNotFoundNamingTheLibrary) {
  FelicaError error = CaughtError(InitializeLibrary);
  EXPECT_EQ(error.Number, 53);
  EXPECT_EQ(error.Source, L"Varnelo");
  EXPECT_NE(error.Description.find(L"felica_for_vb.dll"), std::wstring::npos) << error.Description;

  for (auto call : {DisposeLibrary, OpenReaderWriterAuto, CloseReaderWriter, StopPolling}) {
    EXPECT_EQ(CaughtError(call).Number, 53);
  }
  EXPECT_EQ(CaughtError([] { ReadIDm(); }).Number, 53);
  EXPECT_EQ(CaughtError([] { ReadFelicaNumber(); }).Number, 53);
  EXPECT_EQ(GetIDm(), L"");
  EXPECT_EQ(GetFelicaNumber(), L"");
  EXPECT_EQ(LoadedLibraryPath(), L"");
}

TEST(MissingLibrary, ALibraryInTheCurrentDirectoryIsNotLoaded) {
  std::wstring planted = SiblingFolder(L"tests-fixture");
  ASSERT_NE(GetFileAttributesW((planted + L"\\felica_for_vb.dll").c_str()), INVALID_FILE_ATTRIBUTES);
  wchar_t previous[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(planted.c_str()));

  FelicaError error = CaughtError(InitializeLibrary);
  SetCurrentDirectoryW(previous);
  EXPECT_EQ(error.Number, 53);
  EXPECT_EQ(LoadedLibraryPath(), L"");
}

TEST(MissingLibrary, TheNextCallFindsALibraryInstalledMeanwhile) {
  EXPECT_EQ(CaughtError(InitializeLibrary).Number, 53);

  std::wstring installed = SiblingFolder(L"tests-fixture");
  wchar_t path[32767];
  DWORD length = GetEnvironmentVariableW(L"PATH", path, 32767);
  ASSERT_TRUE(SetEnvironmentVariableW(L"PATH", (installed + L";" + std::wstring(path, length)).c_str()));

  EXPECT_NO_THROW(InitializeLibrary());
  EXPECT_EQ(CompareStringOrdinal(LoadedLibraryPath().c_str(), -1, (installed + L"\\felica_for_vb.dll").c_str(), -1,
                                 TRUE),
            CSTR_EQUAL)
      << LoadedLibraryPath();
  EXPECT_NO_THROW(StopPolling());
  EXPECT_NO_THROW(DisposeLibrary());
}
