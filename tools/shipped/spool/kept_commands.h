// kav-spool's commands on the answers kept aside (Temp\KAVFALHA-*.RET):
//   retidas             lists them, newest first, numbered
//   descartar-retida N  removes number N of that list
//   imprimir-retida N   prints what the monitor reads of it, as "Imprimir" of
//                       the kept answers' form does (the order form's own
//                       settling: each ticket carries "VERIFICAR: resposta
//                       retida"), then removes it
// Discarding and printing are the monitor's while it runs (its window lists
// them): both are refused then, pointing there. Each file is read only when
// it is a regular file within the bound of an answer; otherwise it is
// refused and the tool exits 2.
#pragma once

#include <functional>
#include <string_view>

#include "platform/clock.h"
#include "platform/file_system.h"

namespace kav::spool_tool {

// Where the tool speaks to the operator (Windows-1252 texts).
struct Voice {
  std::function<void(std::string_view)> say;
  std::function<void(std::string_view)> error;
};

int list_kept(platform::FileSystem& files, const Voice& voice);
int discard_kept(platform::FileSystem& files, platform::Clock& clock, std::string_view number, const Voice& voice);
int print_kept(platform::FileSystem& files, platform::Clock& clock, std::string_view number, const Voice& voice);

}  // namespace kav::spool_tool
