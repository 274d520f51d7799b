#include "settings/config_file.h"

#include <algorithm>

#include "platform/text_file.h"
#include "record/cp1252.h"
#include "record/ini_text.h"
#include "record/letter_case.h"

namespace kav::settings {

namespace {

std::string trimmed(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return std::string(s);
}

std::string at_line(int line) { return std::string(kConfigName) + ", linha " + std::to_string(line) + ": "; }

std::string shown(const Section& s) { return "[" + s.kind + (s.name.empty() ? "" : " " + s.name) + "]"; }

const SectionSpec* spec_of(std::span<const SectionSpec> schema, std::string_view kind) {
  for (const auto& decl : schema) {
    if (decl.kind == kind) return &decl;
  }
  return nullptr;
}

const KeySpec* key_of(const SectionSpec& decl, std::string_view key) {
  for (const auto& k : decl.keys) {
    if (k.name == key) return &k;
  }
  return nullptr;
}

// The value as kept, or nothing when the key does not take it.
std::optional<std::string> checked(const KeySpec& key, std::string_view value) {
  switch (key.kind) {
    case ValueKind::choice: {
      const std::string lower = record::lower(value);
      for (const auto c : key.choices) {
        if (c == lower) return lower;
      }
      return std::nullopt;
    }
    case ValueKind::number: {
      const auto n = as_number(value);
      if (!n || *n < key.min || *n > key.max) return std::nullopt;
      return std::to_string(*n);
    }
    case ValueKind::address:
      if (!as_address(value)) return std::nullopt;
      return std::string(value);
    case ValueKind::text:
      if (value.empty()) return std::nullopt;
      return std::string(value);
  }
  return std::nullopt;
}

std::string what_it_takes(const KeySpec& key) {
  switch (key.kind) {
    case ValueKind::choice: {
      std::string list;
      for (const auto c : key.choices) {
        if (!list.empty()) list += '|';
        list += c;
      }
      return list;
    }
    case ValueKind::number: {
      std::string range = std::to_string(key.min);
      range += " a ";
      range += std::to_string(key.max);
      return range;
    }
    case ValueKind::address: return "HOST:PORTA";
    case ValueKind::text: return "um texto";
  }
  return {};
}

}  // namespace

std::optional<long> as_number(std::string_view text) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::nullopt;
  }
  long n = 0;
  for (const char c : text) n = n * 10 + (c - '0');
  return n;
}

std::optional<HostPort> as_address(std::string_view text) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos || colon == 0) return std::nullopt;
  const std::string_view host = text.substr(0, colon);
  if (host.find_first_of(" \t:") != std::string_view::npos) return std::nullopt;
  const auto port = as_number(text.substr(colon + 1));
  if (!port || *port < 1 || *port > 65535) return std::nullopt;
  return HostPort{std::string(host), static_cast<int>(*port)};
}

const Section* Settings::find(std::string_view kind, std::string_view name) const {
  const std::string wanted = record::lower(trimmed(name));
  for (const auto& s : sections) {
    if (s.kind == kind && record::lower(s.name) == wanted) return &s;
  }
  return nullptr;
}

std::string Settings::value(std::span<const SectionSpec> schema, std::string_view kind, std::string_view name,
                            std::string_view key) const {
  if (const Section* s = find(kind, name); s != nullptr && !s->refused) {
    if (const auto it = s->values.find(std::string(key)); it != s->values.end()) return it->second;
  }
  if (const SectionSpec* decl = spec_of(schema, kind)) {
    if (const KeySpec* k = key_of(*decl, key)) return std::string(k->fallback);
  }
  return {};
}

Settings parse_settings(std::string_view text, std::span<const SectionSpec> schema) {
  Settings out;
  out.found = true;
  const record::IniText ini = record::parse_ini(text);
  for (const int line : ini.bad_lines) out.problems.push_back(at_line(line) + record::cp1252("linha não entendida"));
  for (const auto& raw : ini.sections) {
    if (raw.line == 0) {  // keys before any section
      for (const auto& e : raw.entries) {
        out.problems.push_back(at_line(e.line) + "chave \"" + e.key + record::cp1252("\" fora de uma seção"));
      }
      continue;
    }
    const std::size_t blank = raw.name.find(' ');
    Section s;
    s.kind = record::lower(raw.name.substr(0, blank));
    s.name = blank == std::string::npos ? std::string{} : trimmed(raw.name.substr(blank + 1));
    s.line = raw.line;
    const SectionSpec* decl = spec_of(schema, s.kind);
    if (decl == nullptr || decl->named == s.name.empty()) {
      out.problems.push_back(at_line(raw.line) + record::cp1252("seção desconhecida [") + raw.name + "]");
      continue;
    }
    if (out.find(s.kind, s.name) != nullptr) {
      out.problems.push_back(at_line(raw.line) + record::cp1252("seção repetida ") + shown(s) + "; ignorada");
      continue;
    }
    for (const auto& e : raw.entries) {
      const std::string key = record::lower(e.key);
      const KeySpec* k = key_of(*decl, key);
      if (k == nullptr) {
        out.problems.push_back(at_line(e.line) + "chave desconhecida \"" + e.key + "\" em " + shown(s));
        s.refused = true;
      } else if (s.values.contains(key)) {
        out.problems.push_back(at_line(e.line) + "chave \"" + key + "\" repetida em " + shown(s));
        s.refused = true;
      } else if (auto v = checked(*k, e.value)) {
        s.values[key] = std::move(*v);
      } else {
        out.problems.push_back(at_line(e.line) + "valor \"" + e.value + "\" de \"" + key + record::cp1252("\" inválido (") +
                               what_it_takes(*k) + ")");
        s.refused = true;
      }
    }
    out.sections.push_back(std::move(s));
  }
  return out;
}

Settings read_settings(platform::FileSystem& files, std::span<const SectionSpec> schema) {
  if (!files.exists(kConfigPath)) return Settings{};
  platform::TextFile file(files);
  Settings out;
  if (!file.open(kConfigPath, platform::OpenMode::input).ok()) {
    out.found = true;
    out.problems.push_back(std::string(kConfigName) + record::cp1252(": arquivo ilegível; valem os padrões"));
    return out;
  }
  std::string text;
  char c = 0;
  while (file.read_char(c).ok() && text.size() < (1U << 20)) text += c;
  file.close().ignore();  // read only
  return parse_settings(text, schema);
}

}  // namespace kav::settings
