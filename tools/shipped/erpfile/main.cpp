// kav-erpfile: the ERP's keyed files for people and tests without an ERP.
//
//   kav-erpfile create FILE [--from TEXT]   an empty file, then the lines of TEXT
//   kav-erpfile load FILE [TEXT|-]          adds or replaces records from lines
//   kav-erpfile list FILE [--utf8]          every record in key order
//   kav-erpfile delete FILE KEY             deletes the record of KEY
//   kav-erpfile lock FILE KEY [MS]          holds the record locked
//
// FILE is a host path. The record and key lengths follow from the file's name
// (PRODUTO.ORB 869/6, VENDEDO.ORB 1284/6, PARAMET.ORB 6192/1); for another
// name give --length N --key N before FILE. A line of TEXT (Windows-1252, LF
// or CR LF) is the record from its first position; a shorter line is
// blank-filled, a longer one refused; its first key-length characters are the
// key. Lines are loaded in one transaction. `lock` takes the record's lock
// byte exclusively (waiting for it), prints "locked" and holds it for MS
// milliseconds, or without MS until a line or the end of standard input; it
// then prints "released".
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/keyed/keyed_format.h"
#include "platform/keyed/keyed_writer.h"
#include "record/area.h"
#include "record/cp1252.h"

namespace {

using kav::platform::keyed::KeyedWriter;

struct Lengths {
  std::size_t record = 0;
  std::size_t key = 0;
};

int usage() {
  std::fputs(
      "usage: kav-erpfile [--length N --key N] create FILE [--from TEXT]\n"
      "       kav-erpfile [--length N --key N] load FILE [TEXT|-]\n"
      "       kav-erpfile list FILE [--utf8]\n"
      "       kav-erpfile [--length N --key N] delete FILE KEY\n"
      "       kav-erpfile [--length N --key N] lock FILE KEY [MS]\n",
      stderr);
  return 2;
}

int fail(const std::string& what) {
  std::fprintf(stderr, "kav-erpfile: %s\n", what.c_str());
  return 1;
}

std::optional<Lengths> lengths_of(const std::string& file, Lengths given) {
  if (given.record > 0 && given.key > 0 && given.key <= given.record) return given;
  std::string base = std::filesystem::path(file).filename().string();
  for (auto& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (base == "PRODUTO.ORB") return Lengths{869, 6};
  if (base == "VENDEDO.ORB") return Lengths{1284, 6};
  if (base == "PARAMET.ORB") return Lengths{6192, 1};
  return std::nullopt;
}

// Loads every line of `in`; returns the number of records or an error.
int load(KeyedWriter& w, std::istream& in, const Lengths& len, const std::string& source) {
  if (!w.begin()) return fail(source + ": " + w.error());
  std::string line;
  std::size_t number = 0, loaded = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (kav::record::trim_right(line).empty()) continue;
    if (line.size() > len.record && !kav::record::is_blank(std::string_view(line).substr(len.record)))
      return fail(source + ":" + std::to_string(number) + ": line longer than the record (" +
                  std::to_string(len.record) + ")");
    const std::string record = kav::record::padded(line, len.record);
    if (!w.put(std::string_view(record).substr(0, len.key), record))
      return fail(source + ":" + std::to_string(number) + ": " + w.error());
    ++loaded;
  }
  if (!w.commit()) return fail(source + ": " + w.error());
  std::fprintf(stderr, "kav-erpfile: %zu records from %s\n", loaded, source.c_str());
  return 0;
}

int load_from(KeyedWriter& w, const std::string& text, const Lengths& len) {
  if (text == "-") return load(w, std::cin, len, "standard input");
  std::ifstream in(text, std::ios::binary);
  if (!in) return fail(text + ": " + std::strerror(errno));
  return load(w, in, len, text);
}

int list(const std::string& file, bool utf8) {
  if (!std::filesystem::exists(file)) return fail(file + ": no such file");
  KeyedWriter w;
  if (const std::string err = w.open(file, false); !err.empty()) return fail(file + ": " + err);
  const bool ok = w.for_each([&](std::string_view, std::string_view record) {
    const std::string_view shown = kav::record::trim_right(record);
    const std::string out = utf8 ? kav::record::to_utf8(shown) : std::string(shown);
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fputc('\n', stdout);
    return true;
  });
  return ok ? 0 : fail(file + ": " + w.error());
}

int lock(const std::string& file, std::string_view key_text, const Lengths& len, const char* ms) {
  const std::string key = kav::record::padded(key_text, len.key);
  kav::platform::keyed::LockFile locks;
  const std::string lock_name = file + std::string(kav::platform::keyed::kLockSuffix);
  if (!locks.open(lock_name)) return fail(lock_name + ": " + std::strerror(errno));
  const std::uint64_t offset = kav::platform::keyed::lock_offset(key);
  if (!locks.lock_exclusive(offset, true)) return fail(lock_name + ": cannot lock");
  std::puts("locked");
  std::fflush(stdout);
  if (ms != nullptr) {
    kav::platform::keyed::sleep_ms(std::atoi(ms));
  } else {
    std::string line;
    std::getline(std::cin, line);
  }
  locks.release(offset);
  std::puts("released");
  std::fflush(stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  Lengths given;
  while (args.size() >= 2 && (args[0] == "--length" || args[0] == "--key")) {
    (args[0] == "--length" ? given.record : given.key) = std::strtoul(args[1].c_str(), nullptr, 10);
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.size() < 2) return usage();
  const std::string& command = args[0];
  const std::string& file = args[1];
  if (command == "list") return list(file, args.size() > 2 && args[2] == "--utf8");

  const auto len = lengths_of(file, given);
  if (!len) return fail(file + ": unknown record length; give --length N --key N");

  if (command == "create") {
    if (args.size() != 2 && !(args.size() == 4 && args[2] == "--from")) return usage();
    KeyedWriter w;
    if (const std::string err = w.open(file, true); !err.empty()) return fail(file + ": " + err);
    return args.size() == 4 ? load_from(w, args[3], *len) : 0;
  }
  if (command == "load") {
    if (args.size() > 3) return usage();
    if (!std::filesystem::exists(file)) return fail(file + ": no such file (create it first)");
    KeyedWriter w;
    if (const std::string err = w.open(file, false); !err.empty()) return fail(file + ": " + err);
    return load_from(w, args.size() == 3 ? args[2] : "-", *len);
  }
  if (command == "delete") {
    if (args.size() != 3) return usage();
    KeyedWriter w;
    if (const std::string err = w.open(file, false); !err.empty()) return fail(file + ": " + err);
    return w.erase(kav::record::padded(args[2], len->key)) ? 0 : fail(file + ": " + w.error());
  }
  if (command == "lock") {
    if (args.size() != 3 && args.size() != 4) return usage();
    return lock(file, args[2], *len, args.size() == 4 ? args[3].c_str() : nullptr);
  }
  return usage();
}
