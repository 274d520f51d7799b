// The links the file system refused (platform/refused_links.h) as alerts:
// one per link, raised and logged when it is first met, ended at the first
// check that meets it no more.
#pragma once

#include <set>
#include <string>

#include "board/alerts.h"

namespace kav::log {

class LinkAlerts {
 public:
  explicit LinkAlerts(Alerts& alerts) : alerts_(alerts) {}
  // Takes the links refused since the last call.
  void check();

 private:
  Alerts& alerts_;
  std::set<std::string> standing_;
};

}  // namespace kav::log
