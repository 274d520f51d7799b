#include "board/link_alerts.h"

#include "board/events.h"
#include "platform/refused_links.h"
#include "record/cp1252.h"

namespace kav::log {

void LinkAlerts::check() {
  std::set<std::string> now;
  for (const std::string& host : platform::take_refused_links()) {
    const std::string key = std::string(alert_key::link_refused) + host;
    now.insert(key);
    alerts_.raise(key, record::cp1252("Ligação recusada, nada gravado através dela: ") + record::cp1252(host));
  }
  for (const std::string& key : standing_) {
    if (now.count(key) == 0) alerts_.clear(key);
  }
  standing_ = std::move(now);
}

}  // namespace kav::log
