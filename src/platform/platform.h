// Everything the forms reach outside the program, in one bundle.
#pragma once

#include "platform/clock.h"
#include "platform/command_runner.h"
#include "platform/file_system.h"
#include "platform/keyed_file.h"
#include "platform/print_service.h"

namespace kav::platform {

struct Platform {
  FileSystem& files;
  Clock& clock;
  CommandRunner& commands;
  PrintService& printing;
  KeyedFiles& keyed;
};

}  // namespace kav::platform
