// The list of cards read, kept in a CSV file while the tool runs: appended, pushed to the disk
// at every line, and open to other programs (a spreadsheet may read it while it grows).
#pragma once
#include <cstdint>
#include <string>

#include "CardList.h"

namespace pcsc {

// The local time now, with its offset from UTC.
LocalTime Now();

class CardLog {
public:
  enum class Opened { Ok, InUse, Failed };
  CardLog() = default;
  ~CardLog();
  CardLog(const CardLog&) = delete;
  CardLog& operator=(const CardLog&) = delete;
  // Creates the file if need be; error: the system's code when not Ok. typedColumn asks for the
  // column of the ID as typed; a file that has lines already keeps the columns its header has.
  Opened Open(const std::string& path, unsigned& error, bool typedColumn = false);
#ifdef _WIN32
  Opened Open(const std::wstring& path, unsigned& error, bool typedColumn = false);
#endif
  // Appends the line of a card that arrived now; false with the system's code when it was not
  // written, and the line in line either way.
  bool Add(const Idm& idm, std::string& line, unsigned& error, const std::string& typed = "");
  bool TypedColumn() const { return list_.TypedColumn(); }

private:
  bool Write(const std::string& text, unsigned& error);
  // Takes the file's own columns from its first line, when that is our header.
  void Begin(uint64_t size, char last, const std::string& first, bool typedColumn);
  CardList list_;
  std::string opening_; // written with the first line, so that it is never written alone
  intptr_t file_ = -1;
};

} // namespace pcsc
