// The import page WRT_KAVCMD.php: the web application takes in the exchange
// file FILES/KAVCMD.TXT of its document folder (sellers and products written
// by the monitor's export). The monitor never reads the page's answer; GNU
// Wget stores it in WGET.TXT.
#pragma once

#include <filesystem>
#include <string>

namespace kav::webstub {

struct ImportResult {
  std::string answer;  // body of the page
  std::string note;    // short note for the request log, one line
};

// Reads FILES/KAVCMD.TXT under `docroot` (names matched without regard to
// case). For now it only reports the file's presence and size.
ImportResult import_exchange_file(const std::filesystem::path& docroot);

}  // namespace kav::webstub
