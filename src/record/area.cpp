#include "record/area.h"

#include <algorithm>

namespace kav::record {

std::string padded(std::string_view text, std::size_t width) {
  std::string out(width, ' ');
  out.replace(0, std::min(width, text.size()), text.substr(0, width));
  return out;
}

bool is_blank(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c == ' '; });
}

std::string_view trim_right(std::string_view text) {
  const auto last = text.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string_view{} : text.substr(0, last + 1);
}

std::string blank_controls(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) c = ' ';
  }
  return out;
}

namespace {
// The part of field `f` that lies inside an area of `size` bytes, as offset/count.
std::pair<std::size_t, std::size_t> clip(Field f, std::size_t size) {
  if (f.pos == 0 || f.pos > size) return {size, 0};
  const std::size_t offset = f.pos - 1;
  return {offset, std::min(f.width, size - offset)};
}
}  // namespace

std::string_view Area::get(Field f) const {
  const auto [offset, count] = clip(f, bytes_.size());
  return std::string_view(bytes_).substr(offset, count);
}

void Area::set(Field f, std::string_view text) {
  const auto [offset, count] = clip(f, bytes_.size());
  const std::size_t n = std::min(count, text.size());
  std::copy_n(text.begin(), n, bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
  std::fill_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset + n), count - n, ' ');
}

void Area::fill(char c) { std::fill(bytes_.begin(), bytes_.end(), c); }

void Area::fill(Field f, char c) {
  const auto [offset, count] = clip(f, bytes_.size());
  std::fill_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), count, c);
}

void Area::replace_all(char from, char to) { std::replace(bytes_.begin(), bytes_.end(), from, to); }

}  // namespace kav::record
