#include "board/alerts.h"

#include <algorithm>

namespace kav::log {

namespace {
constexpr std::string_view kEnded = "Resolvido: ";
}  // namespace

std::string Alerts::normalized(std::string_view text) {
  std::string out(text.substr(0, kTextWidth));
  for (char& c : out) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = ' ';
  }
  out.erase(out.find_last_not_of(' ') + 1);
  return out;
}

void Alerts::watch(Watch watch) {
  std::lock_guard order(log_mutex_);
  watch_ = std::move(watch);
}

void Alerts::log(std::unique_lock<std::mutex>& state, std::string_view text, Change change, std::string_view key,
                 std::string_view alert_text) const {
  std::lock_guard order(log_mutex_);
  const std::string line(text.substr(0, kTextWidth));
  const std::string k(key);
  const std::string t(alert_text);
  state.unlock();
  if (log_line_) log_line_(line);
  if (watch_) watch_(change, k, t);
}

void Alerts::raise(std::string_view key, std::string_view text) {
  std::string kept = normalized(text);
  std::unique_lock lock(mutex_);
  auto it = std::find_if(alerts_.begin(), alerts_.end(), [&](const Alert& a) { return a.key == key; });
  if (it != alerts_.end() && it->text == kept) return;
  const Change change = it == alerts_.end() ? Change::begun : Change::changed;
  if (it == alerts_.end()) {
    alerts_.push_back({std::string(key), kept});
  } else {
    it->text = kept;
  }
  ++version_;
  log(lock, kept, change, key, kept);
}

void Alerts::clear(std::string_view key) {
  std::unique_lock lock(mutex_);
  auto it = std::find_if(alerts_.begin(), alerts_.end(), [&](const Alert& a) { return a.key == key; });
  if (it == alerts_.end()) return;
  const std::string line = std::string(kEnded) + it->text;
  const std::string text = it->text;
  alerts_.erase(it);
  ++version_;
  log(lock, line, Change::ended, key, text);
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
