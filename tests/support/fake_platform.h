// The platform that tests run the forms on: an in-memory fake for every
// service, any of which a test may replace by the service it hands in (files
// on a real root, the real command runner, the spooling print service, keyed
// files on disk). The forms are given `services`.
#pragma once

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/platform.h"
#include "support/fake_keyed.h"
#include "support/fakes.h"

namespace kav::test {

// Services that take the place of the fake platform's own; they must outlive
// the platform.
struct UseServices {
  platform::FileSystem* files = nullptr;
  platform::Clock* clock = nullptr;
  platform::CommandRunner* commands = nullptr;
  platform::PrintService* printing = nullptr;
  platform::KeyedFiles* keyed = nullptr;
  // The ERP's keyed files in memory (FakePlatform::keyed.stores); without
  // them the platform has no keyed files at all.
  bool erp_files = false;
};

struct FakePlatform {
  using Use = UseServices;

  // The moment the tests' day starts at: 27 November 2019, 14:38.
  static platform::ManualClock start_of_test_day() { return platform::ManualClock(2019, 11, 27, 14, 38, 0); }

  explicit FakePlatform(platform::ManualClock start = start_of_test_day(), Use use = {})
      : clock(start),
        services{use.files != nullptr ? *use.files : files, use.clock != nullptr ? *use.clock : clock,
                 use.commands != nullptr ? *use.commands : commands,
                 use.printing != nullptr ? *use.printing : printing, use.keyed != nullptr ? *use.keyed : keyed} {
    printing.read_info_from(&services.files);
    printing.stamp_by(&services.clock);
    keyed.none = !use.erp_files;
  }
  FakePlatform(const FakePlatform&) = delete;
  FakePlatform& operator=(const FakePlatform&) = delete;

  platform::MemoryFileSystem files;
  platform::ManualClock clock;
  FakeCommandRunner commands;
  FakePrintService printing;
  FakeKeyedFiles keyed;
  platform::Platform services;
};

}  // namespace kav::test
