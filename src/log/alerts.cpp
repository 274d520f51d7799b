#include "log/alerts.h"

#include <algorithm>

namespace kav::log {

namespace {
constexpr std::size_t kLogTextWidth = 106;
const std::string kEnded = "Resolvido: ";
}  // namespace

void Alerts::log(std::string_view text) const {
  if (log_line_) log_line_(text.substr(0, kLogTextWidth));
}

void Alerts::raise(std::string_view key, std::string_view text) {
  {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(alerts_.begin(), alerts_.end(), [&](const Alert& a) { return a.key == key; });
    if (it != alerts_.end() && it->text == text) return;
    if (it == alerts_.end()) {
      alerts_.push_back({std::string(key), std::string(text)});
    } else {
      it->text = std::string(text);
    }
    ++version_;
  }
  log(text);
}

void Alerts::clear(std::string_view key) {
  std::string text;
  {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(alerts_.begin(), alerts_.end(), [&](const Alert& a) { return a.key == key; });
    if (it == alerts_.end()) return;
    text = std::move(it->text);
    alerts_.erase(it);
    ++version_;
  }
  log(kEnded + text);
}

void Alerts::clear_all(std::string_view prefix) {
  std::vector<std::string> keys;
  {
    std::lock_guard lock(mutex_);
    for (const auto& a : alerts_) {
      if (a.key.starts_with(prefix)) keys.push_back(a.key);
    }
  }
  for (const auto& key : keys) clear(key);
}

std::vector<Alerts::Alert> Alerts::current() const {
  std::lock_guard lock(mutex_);
  return alerts_;
}

std::uint64_t Alerts::version() const {
  std::lock_guard lock(mutex_);
  return version_;
}

}  // namespace kav::log
