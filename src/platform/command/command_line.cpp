#include "platform/command/command_line.h"

#include "record/cp1252.h"
#include "record/letter_case.h"

namespace kav::platform::command {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim_end(std::string_view text) {
  while (!text.empty() && (is_blank(text.back()) || text.back() == '\r' || text.back() == '\n' || text.back() == '\0'))
    text.remove_suffix(1);
  return text;
}

Request refuse(std::string reason) {
  Request r;
  r.reason = std::move(reason);
  return r;
}

}  // namespace

bool equals_ignoring_case(std::string_view a, std::string_view b) { return record::same_letters(a, b); }

bool ends_with_ignoring_case(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && equals_ignoring_case(text.substr(text.size() - end.size()), end);
}

bool split_words(std::string_view line, bool in_batch, std::vector<std::string>& words, std::string& error) {
  words.clear();
  std::string word;
  bool in_word = false;
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') {
      quoted = !quoted;
      in_word = true;  // "" is an empty word
      continue;
    }
    if (c == '%') {
      if (in_batch && i + 1 < line.size() && line[i + 1] == '%') {
        word += '%';
        in_word = true;
        ++i;
        continue;
      }
      error = "variables (%) are not expanded";
      return false;
    }
    if (c == '\0' || c == '\r' || c == '\n') {
      error = "control character in the line";
      return false;
    }
    if (!quoted) {
      if (is_blank(c)) {
        if (in_word) words.push_back(std::move(word));
        word.clear();
        in_word = false;
        continue;
      }
      if (c == '&' || c == '|' || c == '<' || c == '>' || c == '^') {
        error = std::string("operator '") + c + "' is not supported";
        return false;
      }
    }
    word += c;
    in_word = true;
  }
  if (in_word) words.push_back(std::move(word));
  return true;
}

Request parse_command_line(std::string_view command_line) {
  const std::string_view line = trim_end(command_line);
  std::vector<std::string> words;
  std::string error;
  if (!split_words(line, false, words, error)) return refuse(error);
  if (words.size() < 3 || !equals_ignoring_case(words[0], "CMD.EXE") || !equals_ignoring_case(words[1], "/C"))
    return refuse("only \"CMD.EXE /C DEL <file> /Q\" and \"CMD.EXE /C <batch file>\" are understood");
  if (equals_ignoring_case(words[2], "DEL")) {
    if (words.size() != 5 || !equals_ignoring_case(words[4], "/Q"))
      return refuse("DEL is understood only as \"DEL <file> /Q\"");
    if (words[3].find_first_of("*?") != std::string::npos) return refuse("DEL takes no wildcards");
    if (!is_windows_path(words[3])) return refuse("DEL needs a full path");
    Request r;
    r.kind = Request::Kind::remove;
    r.path = words[3];
    return r;
  }
  if (words.size() != 3 || !ends_with_ignoring_case(words[2], ".BAT"))
    return refuse("only batch files (.BAT) are run");
  if (!is_windows_path(words[2])) return refuse("the batch file needs a full path");
  Request r;
  r.kind = Request::Kind::batch;
  r.path = words[2];
  return r;
}

std::vector<std::string> batch_lines(std::string_view contents) {
  std::vector<std::string> lines;
  while (!contents.empty()) {
    std::size_t end = contents.find('\n');
    const std::string_view line = contents.substr(0, end);
    contents.remove_prefix(end == std::string_view::npos ? contents.size() : end + 1);
    const std::string_view trimmed = trim_end(line);
    std::size_t first = 0;
    while (first < trimmed.size() && is_blank(trimmed[first])) ++first;
    if (first < trimmed.size()) lines.emplace_back(trimmed);
  }
  return lines;
}

bool is_windows_path(std::string_view text) {
  if (!text.empty() && text[0] == '\\') return true;
  const char d = record::upper(text.empty() ? '\0' : text[0]);
  return text.size() >= 3 && d >= 'A' && d <= 'Z' && text[1] == ':' && text[2] == '\\';
}

std::string map_argument(std::string_view argument, const std::function<std::string(std::string_view)>& host_path) {
  if (is_windows_path(argument)) return host_path(argument);
  if (!argument.empty() && argument[0] == '-') {
    const std::size_t eq = argument.find('=');
    if (eq != std::string_view::npos && is_windows_path(argument.substr(eq + 1)))
      return record::to_utf8(argument.substr(0, eq + 1)) + host_path(argument.substr(eq + 1));
  }
  return record::to_utf8(argument);
}

}  // namespace kav::platform::command
