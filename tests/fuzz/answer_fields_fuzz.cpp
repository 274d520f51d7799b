// Fuzzes the answer reader alone: arbitrary bytes read in the order of each
// of the three answer layouts, beside a plain reader that knows only the
// reading primitives and checks the layout character by character.
//
// - Whatever the bytes, every read ends and what is kept for the log stays
//   within its bounds.
// - An answer that follows the layout to the letter (only blanks before and
//   between records, the ">" and "<" between fields, no end inside a record)
//   reads without odd text, into the same fields as the plain reader (which
//   reads the answer's characters: a UTF-8 answer converted first).
// - An answer that breaks it is reported (the reader has odd text), unless
//   it sent a field shorter than its width or a bill's item code with
//   letters, which the reader takes as the page meant them.
// - What was passed over before the first record is kept as it stood, with
//   control characters blanked and runs of blanks made one.
// - The line for the log never grows past the width asked for.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "orders/answer_reader.h"
#include "platform/status.h"
#include "platform/file_system.h"
#include "platform/text_file.h"

namespace {

using namespace kav;

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "answer_fields_fuzz: %s\n", what);
  std::abort();
}

// The fuzzer's bytes as the one file there is.
class BytesFile final : public platform::File {
 public:
  explicit BytesFile(std::string_view bytes) : bytes_(bytes) {}
  long read(char* buf, std::size_t n) override {
    const std::size_t k = std::min(n, bytes_.size() - pos_);
    std::copy_n(bytes_.data() + pos_, k, buf);
    pos_ += k;
    return static_cast<long>(k);
  }
  platform::Status write(std::string_view) override { return platform::Status::kFailed; }
  platform::Status sync() override { return platform::Status::kOk; }
  platform::Status close() override { return platform::Status::kOk; }

 private:
  std::string_view bytes_;
  std::size_t pos_ = 0;
};

class BytesFileSystem final : public platform::FileSystem {
 public:
  std::string_view bytes;
  platform::Status open(std::string_view, platform::OpenMode, std::unique_ptr<platform::File>& file) override {
    file = std::make_unique<BytesFile>(bytes);
    return platform::Status::kOk;
  }
  platform::Status remove(std::string_view) override { return platform::Status::kFailed; }
  platform::Status rename(std::string_view, std::string_view) override { return platform::Status::kFailed; }
  bool exists(std::string_view) override { return true; }
  platform::Status create_directory(std::string_view) override { return platform::Status::kFailed; }
  platform::Status remove_folder(std::string_view) override { return platform::Status::kFailed; }
  std::string host_path(std::string_view p) override { return std::string(p); }
  std::vector<std::string> list(std::string_view, bool) override { return {}; }
  platform::Status sync_directory(std::string_view) override { return platform::Status::kOk; }
};

// One step of a command's reading. `record` looks for a record whose first
// field has `n` characters; `fixed`, `text` and `decimal` read a field;
// `skip` passes over the characters `expect` that the layout puts there;
// `stop_at_marker` ends the reading when the last field read is an end
// marker.
struct Op {
  enum Kind { record, fixed, text, decimal, skip, stop_at_marker } kind;
  std::size_t n = 0, d = 0;
  std::string_view expect = {};
};

struct Layout {
  const char* name;
  std::vector<Op> header;  // starts with its record
  std::vector<Op> item;    // empty: one record only
  bool item_ends_fixed;    // the item's last field is fixed or decimal: its ">" follows at the next record
};

const std::vector<Layout>& layouts() {
  using K = Op::Kind;
  static const std::vector<Layout> all = {
      {"CMD_IMP",
       {{K::record, 4}, {K::fixed, 4}, {K::stop_at_marker}, {K::skip, 2, 0, "><"}, {K::fixed, 6},
        {K::skip, 2, 0, "><"}, {K::text, 40}, {K::skip, 1, 0, "<"}, {K::fixed, 2}, {K::skip, 2, 0, "><"},
        {K::text, 20}},
       {{K::record, 4}, {K::fixed, 4}, {K::stop_at_marker}, {K::skip, 2, 0, "><"}, {K::fixed, 6},
        {K::skip, 2, 0, "><"}, {K::text, 40}, {K::skip, 1, 0, "<"}, {K::decimal, 6, 3}, {K::skip, 2, 0, "><"},
        {K::decimal, 7, 2}, {K::skip, 2, 0, "><"}, {K::text, 20}, {K::skip, 1, 0, "<"}, {K::text, 20}},
       false},
      {"CAN_ITE",
       {{K::record, 4}, {K::fixed, 4}, {K::stop_at_marker}, {K::skip, 2, 0, "><"}, {K::fixed, 4},
        {K::skip, 2, 0, "><"}, {K::fixed, 6}, {K::skip, 2, 0, "><"}, {K::text, 40}, {K::skip, 1, 0, "<"},
        {K::text, 20}, {K::skip, 1, 0, "<"}, {K::text, 20}},
       {},
       false},
      {"CMD_FEC",
       {{K::record, 4}, {K::fixed, 4}, {K::stop_at_marker}, {K::skip, 2, 0, "><"}, {K::fixed, 6},
        {K::skip, 2, 0, "><"}, {K::text, 40}, {K::skip, 1, 0, "<"}, {K::fixed, 2}, {K::skip, 2, 0, "><"},
        {K::text, 20}, {K::skip, 1, 0, "<"}, {K::text, 20}, {K::skip, 1, 0, "<"}, {K::fixed, 2},
        {K::skip, 1, 0, ">"}},
       {{K::record, 6}, {K::fixed, 6}, {K::stop_at_marker}, {K::skip, 2, 0, "><"}, {K::text, 40},
        {K::skip, 1, 0, "<"}, {K::decimal, 6, 3}, {K::skip, 2, 0, "><"}, {K::decimal, 7, 2}},
       true},
  };
  return all;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0' || c == '\x1a'; }
bool is_field_char(char c) { return c == ' ' || (c >= '0' && c <= '9'); }
bool is_code_char(char c) { return is_field_char(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Reads by the primitives alone, over the bytes, and notes every departure
// from the layout.
class PlainReader {
 public:
  explicit PlainReader(std::string_view b) : b_(b) {}

  bool strict = true;           // the layout followed to the letter so far
  bool tolerated = false;       // a field sent short, or a code with letters, was met
  bool first_found = false;     // a record has started
  bool first_shaped = false;    // the first "<" taken as a record had a first field of the right shape
  std::string leading;          // the bytes before the first record
  std::vector<std::string> fields;

  // The next record's "<"; false at the end of the bytes.
  bool record(std::size_t width, bool close_pending) {
    if (close_pending && next() != '>') strict = false;
    while (pos_ < b_.size()) {
      const char c = b_[pos_++];
      if (c == '<') {
        bool shaped = pos_ + width < b_.size() && b_[pos_ + width] == '>';
        for (std::size_t i = 0; shaped && i < width; ++i) shaped = is_field_char(b_[pos_ + i]);
        if (!shaped) {
          strict = false;
          for (std::size_t i = 0; i <= width && pos_ + i < b_.size() && !tolerated; ++i) {
            tolerated = b_[pos_ + i] == '>' ? i > 0 : !is_code_char(b_[pos_ + i]);
            if (!tolerated && !is_code_char(b_[pos_ + i])) break;
          }
        }
        if (!first_found) first_shaped = shaped;
        first_found = in_record_ = true;
        return true;
      }
      if (!first_found) leading += c;
      if (!is_blank(c)) strict = false;
    }
    in_record_ = false;
    return false;
  }
  std::string fixed(std::size_t n) {
    std::string f;
    for (std::size_t i = 0; i < n; ++i) f += next();
    if (f.find('>') != std::string::npos) tolerated = true;  // sent short
    return f;
  }
  std::string text(std::size_t n) {
    std::string f(n, ' ');
    for (std::size_t stored = 0;; ++stored) {
      if (pos_ >= b_.size()) {
        next();
        return f;
      }
      const char c = next();
      if (c == '>') return f;
      if (stored < n) {
        f[stored] = c;
      }
    }
  }
  void skip(std::string_view expect) {
    for (const char e : expect)
      if (next() != e) strict = false;
  }
  char next() {
    if (pos_ < b_.size()) return b_[pos_++];
    if (in_record_) strict = false;  // the answer ended inside a record
    return ' ';
  }

 private:
  std::string_view b_;
  std::size_t pos_ = 0;
  bool in_record_ = false;
};

// Runs `ops` on both readers; false when the reading ends.
bool run_ops(const std::vector<Op>& ops, bool close_pending, orders::AnswerReader& r, PlainReader& p,
             std::vector<std::string>& got) {
  for (const Op& op : ops) {
    switch (op.kind) {
      case Op::record: {
        const bool a = r.skip_to_record(op.n);
        const bool b = p.record(op.n, close_pending);
        if (p.strict && !p.tolerated) check(a == b, "a record found by one reader only");
        if (!a || !b) return false;
        break;
      }
      case Op::fixed:
        got.push_back(r.fixed(op.n));
        p.fields.push_back(p.fixed(op.n));
        check(got.back().size() == op.n, "a fixed field of another width");
        break;
      case Op::text:
        got.push_back(r.text(op.n));
        p.fields.push_back(p.text(op.n));
        check(got.back().size() == op.n, "a text field of another width");
        break;
      case Op::decimal: {
        got.push_back(r.decimal(op.n, op.d));
        std::string digits = p.fixed(op.n);
        if (p.next() == '>') p.tolerated = true;  // sent short
        p.fields.push_back(digits + p.fixed(op.d));
        check(got.back().size() == op.n + op.d, "a decimal field of another width");
        break;
      }
      case Op::skip:
        r.skip(op.n);
        p.skip(op.expect);
        break;
      case Op::stop_at_marker:
        if (orders::is_end_marker(got.back())) return false;
        break;
    }
  }
  return true;
}

// Control characters blanked, runs of blanks made one, up to `limit`.
std::string blanked(std::string_view raw, std::size_t limit) {
  std::string out;
  for (char c : raw) {
    if (out.size() >= limit) break;
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    if (c == ' ' && !out.empty() && out.back() == ' ') continue;
    out += c;
  }
  return out;
}

// The odd texts whose log line has been checked for the input at hand.
struct Checked {
  std::string leading, inner;
};

void read_as(const Layout& layout, std::string_view bytes, Checked& checked) {
  static BytesFileSystem files;
  static platform::TextFile resposta(files);  // keeps its read buffer
  // The characters of the answer as the reader takes them (a UTF-8 answer
  // converted): the plain reader reads those.
  files.bytes = bytes;
  std::string chars;
  {
    resposta.open("GET_KAVCMD.RET", platform::OpenMode::input).ignore();
    orders::AnswerReader all(resposta);
    for (char c = all.next_char(); !all.at_end(); c = all.next_char()) chars += c;
    resposta.close().ignore();
  }
  resposta.open("GET_KAVCMD.RET", platform::OpenMode::input).ignore();
  orders::AnswerReader r(resposta);
  PlainReader p(chars);
  std::vector<std::string> got;

  if (run_ops(layout.header, false, r, p, got) && !layout.item.empty()) {
    bool close_pending = false;
    // Each item takes at least its "<": the loop ends with the bytes.
    while (run_ops(layout.item, close_pending, r, p, got)) close_pending = layout.item_ends_fixed;
  }

  const std::size_t kept = orders::AnswerReader::kKeptBytes;
  check(r.leading_text().size() <= kept && r.inner_text().size() <= kept, "more odd text kept than its bound");
  if (!r.damaged()) check(r.inner_text().empty(), "text kept from a damage that was not reported");
  if (p.tolerated) {
    // Read as the page meant it: no field comparison with the plain reader.
  } else if (p.strict) {
    check(!r.has_odd_text(), "an answer that follows its layout reported as odd");
    check(got == p.fields, "an answer that follows its layout read into other fields");
  } else {
    check(r.has_odd_text(), "an answer that breaks its layout not reported");
  }
  // What stood before the first record opens what was passed over (text
  // between records follows it), blanks at its ends aside.
  auto trimmed = [](std::string t) {
    t.erase(0, std::min(t.size(), t.find_first_not_of(' ')));
    while (!t.empty() && t.back() == ' ') t.pop_back();
    return t;
  };
  if ((!p.first_found || p.first_shaped) && !r.damaged()) {
    check(trimmed(r.leading_text()).starts_with(trimmed(blanked(p.leading, kept)).substr(0, kept / 2)),
          "the text before the first record not kept as it stood");
  }

  // The width left on a log line after "Texto ignorado em CMD_IMP: ", and
  // one that the size of the input picks, the narrow ones included. The
  // layouts of one input often leave the same texts: those are checked once.
  if (r.leading_text() == checked.leading && r.inner_text() == checked.inner) return;
  checked = {r.leading_text(), r.inner_text()};
  for (const std::size_t width : {std::size_t{93}, bytes.size() % 100}) {
    const std::string line = orders::shortened(r.leading_text(), r.inner_text(), width);
    check(line.size() <= width, "a log text wider than asked for");
    for (const char c : line) check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F, "a control character in a log text");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  Checked checked{"\n", "\n"};  // no reader keeps a line end
  for (const Layout& layout : layouts()) read_as(layout, bytes, checked);
  return 0;
}
