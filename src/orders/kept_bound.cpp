#include "orders/kept_bound.h"

#include <algorithm>

#include "orders/exchange.h"
#include "record/letter_case.h"

namespace kav::orders {

namespace {
constexpr std::string_view kFailedName = "KAVFALHA-";
std::string in_temp(std::string_view name) { return std::string(kTempFolder) + "\\" + std::string(name); }
}  // namespace

std::vector<std::pair<std::string, std::uint64_t>> KeptBound::current() {
  std::vector<std::string> names;
  for (auto& name : files_.list(kTempFolder, false)) {
    const std::string upper = record::upper(name);
    if (upper.starts_with(kFailedName) && upper.ends_with(".RET")) names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());  // the stamp after the prefix: oldest first
  std::map<std::string, std::uint64_t> sizes;
  std::vector<std::pair<std::string, std::uint64_t>> out;
  for (auto& name : names) {
    const auto known = sizes_.find(name);
    const std::uint64_t size = known != sizes_.end() ? known->second : size_up_to_bound(files_, in_temp(name));
    sizes.emplace(name, size);
    out.emplace_back(std::move(name), size);
  }
  sizes_ = std::move(sizes);  // forgets the files that have gone
  return out;
}

std::optional<std::string> KeptBound::same_as(std::string_view command, std::string_view bytes) {
  std::string tail = "-";  // appended, not concatenated: GCC 12 for Windows misreads that as an overlapping copy
  tail.append(command).append(".RET");
  for (const auto& [name, size] : current()) {
    if (size != bytes.size() || !record::upper(name).ends_with(tail)) continue;
    std::string kept;
    if (read_whole(files_, in_temp(name), kept) && kept == bytes) return name;
  }
  return std::nullopt;
}

std::vector<std::string> KeptBound::over_bound(std::string_view newest) {
  const auto all = current();
  std::size_t count = all.size();
  std::uint64_t bytes = 0;
  for (const auto& entry : all) bytes += entry.second;
  std::vector<std::string> out;
  for (const auto& [name, size] : all) {
    if (count <= kMaxKeptAnswers && bytes <= kMaxKeptBytes) break;
    if (name == newest) continue;
    out.push_back(name);
    --count;
    bytes -= size;
  }
  return out;
}

}  // namespace kav::orders
