// Everything the forms reach outside the program, in one bundle.
#pragma once

#include "platform/clock.h"
#include "platform/command_runner.h"
#include "platform/file_system.h"
#include "platform/keyed_file.h"

namespace kav::platform {

// The print service (printing/print_service.h): its pieces of work and work
// ids are printing's policy, above this layer.
class PrintService;

struct Platform {
  FileSystem& files;
  Clock& clock;
  CommandRunner& commands;
  PrintService& printing;
  KeyedFiles& keyed;
};

}  // namespace kav::platform
