// Reading the stand-in HMI's journal from the tests: one line per event, as
// "<pid> TAB <ms> TAB <event> TAB key=value ...", with escaped values.
#pragma once

#include <windows.h>

#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace winetest {

struct JournalLine {
  DWORD pid = 0;
  std::string event;
  std::map<std::string, std::string> fields;

  std::string Get(const std::string& key) const {
    auto it = fields.find(key);
    return it == fields.end() ? "<missing " + key + ">" : it->second;
  }
};

void PrintTo(const JournalLine& l, std::ostream* os);

// Every complete line of the journal (a line still being written has no line
// break yet), of every stand-in that wrote to it. Empty while the file does
// not exist. The stand-in keeps the file open for writing, so it is read with
// every kind of sharing.
std::vector<JournalLine> ReadJournal(const std::filesystem::path& file);
// The lines of one stand-in process.
std::vector<JournalLine> ReadJournal(const std::filesystem::path& file, DWORD pid);

std::vector<JournalLine> Only(const std::vector<JournalLine>& lines, const std::string& event);
std::vector<std::string> EventNames(const std::vector<JournalLine>& lines);

} // namespace winetest
