#include "CardLog.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace pcsc {

#ifdef _WIN32

namespace {

HANDLE Handle(intptr_t file) { return reinterpret_cast<HANDLE>(file); }

int64_t Ticks(const SYSTEMTIME& time) {
  FILETIME file;
  SystemTimeToFileTime(&time, &file);
  return static_cast<int64_t>(static_cast<uint64_t>(file.dwHighDateTime) << 32 | file.dwLowDateTime);
}

} // namespace

LocalTime Now() {
  SYSTEMTIME utc, local;
  GetSystemTime(&utc);
  if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
    local = utc;
  // The offset as it applies at this instant, daylight saving included.
  const int64_t kTicksPerMinute = 600000000;
  return {local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond,
          static_cast<int>((Ticks(local) - Ticks(utc)) / kTicksPerMinute)};
}

CardLog::~CardLog() {
  if (file_ != -1)
    CloseHandle(Handle(file_));
}

CardLog::Opened CardLog::Open(const std::string& path, unsigned& error, bool typedColumn) {
  // The command line comes in the ANSI code page.
  std::wstring wide(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0)), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
  wide.resize(wide.empty() ? 0 : wide.size() - 1);
  return Open(wide, error, typedColumn);
}

CardLog::Opened CardLog::Open(const std::wstring& path, unsigned& error, bool typedColumn) {
  // Append-only writes land at the end even when another program writes too.
  HANDLE file = CreateFileW(path.c_str(), FILE_READ_DATA | FILE_APPEND_DATA | SYNCHRONIZE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? Opened::InUse : Opened::Failed;
  }
  file_ = reinterpret_cast<intptr_t>(file);
  LARGE_INTEGER size{};
  char last = 0;
  char first[sizeof kCardListTypedHeader] = "";
  DWORD read = 0, firstRead = 0;
  if (!GetFileSizeEx(file, &size)) {
    error = GetLastError();
    return Opened::Failed;
  }
  if (size.QuadPart > 0) {
    LARGE_INTEGER at;
    at.QuadPart = size.QuadPart - 1;
    if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN) || !ReadFile(file, &last, 1, &read, nullptr) || read != 1 ||
        !SetFilePointerEx(file, LARGE_INTEGER{}, nullptr, FILE_BEGIN) ||
        !ReadFile(file, first, sizeof first - 1, &firstRead, nullptr)) {
      error = GetLastError();
      return Opened::Failed;
    }
  }
  Begin(static_cast<uint64_t>(size.QuadPart), last, std::string(first, firstRead), typedColumn);
  return Opened::Ok;
}

bool CardLog::Write(const std::string& text, unsigned& error) {
  DWORD written = 0;
  if (!WriteFile(Handle(file_), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
      written != text.size() || !FlushFileBuffers(Handle(file_))) {
    error = GetLastError();
    return false;
  }
  return true;
}

#else

LocalTime Now() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
          static_cast<int>(local.tm_gmtoff / 60)};
}

CardLog::~CardLog() {
  if (file_ != -1)
    close(static_cast<int>(file_));
}

CardLog::Opened CardLog::Open(const std::string& path, unsigned& error, bool typedColumn) {
  const int file = open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (file < 0) {
    error = static_cast<unsigned>(errno);
    return Opened::Failed;
  }
  file_ = file;
  struct stat info {};
  char last = 0;
  char first[sizeof kCardListTypedHeader] = "";
  ssize_t firstRead = 0;
  if (fstat(file, &info) != 0 || (info.st_size > 0 && (pread(file, &last, 1, info.st_size - 1) != 1 ||
                                                       (firstRead = pread(file, first, sizeof first - 1, 0)) < 0))) {
    error = static_cast<unsigned>(errno);
    return Opened::Failed;
  }
  Begin(static_cast<uint64_t>(info.st_size), last, std::string(first, static_cast<size_t>(firstRead)), typedColumn);
  return Opened::Ok;
}

bool CardLog::Write(const std::string& text, unsigned& error) {
  // One write per line: O_APPEND keeps it whole against another appender.
  const ssize_t written = write(static_cast<int>(file_), text.data(), text.size());
  if (written != static_cast<ssize_t>(text.size()) || fdatasync(static_cast<int>(file_)) != 0) {
    error = written < 0 || written == static_cast<ssize_t>(text.size()) ? static_cast<unsigned>(errno) : ENOSPC;
    return false;
  }
  return true;
}

#endif

void CardLog::Begin(uint64_t size, char last, const std::string& first, bool typedColumn) {
  if (first.starts_with(kCardListTypedHeader))
    typedColumn = true;
  else if (first.starts_with(kCardListHeader))
    typedColumn = false;
  list_ = CardList(typedColumn);
  opening_ = CardList::Opening(size, last, typedColumn);
}

bool CardLog::Add(const Idm& idm, std::string& line, unsigned& error, const std::string& typed) {
  line = list_.Line(Now(), idm, typed);
  if (!Write(opening_ + line, error))
    return false;
  opening_.clear();
  return true;
}

} // namespace pcsc
