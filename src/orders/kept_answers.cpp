#include "orders/kept_answers.h"

#include <algorithm>

#include "orders/answer_layouts.h"
#include "orders/answer_reader.h"
#include "orders/exchange.h"
#include "orders/pending_journal.h"
#include "platform/status.h"
#include "record/cp1252.h"
#include "record/letter_case.h"

namespace kav::orders {

namespace {
constexpr std::string_view kFailedName = "KAVFALHA-";
}  // namespace

KeptAnswer examine_answer(platform::FileSystem& files, std::string_view path, const Command& command) {
  KeptAnswer kept;
  kept.command = command;
  platform::TextFile file(files);
  if (!file.open(path, platform::OpenMode::input).ok()) return kept;
  AnswerReader r(file);
  r.locate(header_label());
  if (r.skip_to_record(4)) {
    const std::string numero = r.fixed(4);
    if (!is_end_marker(numero)) {
      kept.numero = numero;
      AnswerHeader cmd;
      std::string printer;
      Item item;
      if (command == kCancelItem) {
        read_cancelled_item(r, item);
      } else {
        read_header(command, r, cmd, printer);
        for (std::size_t n = 1; read_item_record(command, r, item, n); ++n) {
        }
      }
    } else if (r.order_follows_marker(command.item_field_width)) {
      kept.numero = numero;
      kept.why = marker_refusal(numero);
    }
  }
  if (kept.why.empty() && r.damaged()) kept.why = r.refusal();
  file.close().ignore();  // read only
  return kept;
}

std::vector<std::string> kept_answer_names(platform::FileSystem& files) {
  std::vector<std::string> names;
  for (auto& name : files.list(kTempFolder, false)) {
    const std::string upper = record::upper(name);
    if (upper.starts_with(kFailedName) && upper.ends_with(".RET")) names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end(), std::greater<>());
  return names;
}

KeptAnswer examine_kept(platform::FileSystem& files, const std::string& name) {
  const auto named = parse_pending_name("KAVPEND-" + name.substr(kFailedName.size()));
  KeptAnswer k;
  if (named) k = examine_answer(files, std::string(kTempFolder) + "\\" + name, named->command);
  k.name = name;
  k.stamp = named ? named->stamp : std::string();
  return k;
}

std::vector<KeptAnswer> kept_answers(platform::FileSystem& files) {
  std::vector<KeptAnswer> out;
  for (const auto& name : kept_answer_names(files)) out.push_back(examine_kept(files, name));
  return out;
}

std::string stamp_moment(std::string_view stamp) {
  if (stamp.size() < 15) return std::string(stamp);
  return std::string(stamp.substr(6, 2)) + "/" + std::string(stamp.substr(4, 2)) + " " +
         std::string(stamp.substr(9, 2)) + ":" + std::string(stamp.substr(11, 2)) + ":" +
         std::string(stamp.substr(13, 2));
}

std::string marker_refusal(std::string_view numero) {
  return "comanda: '" + std::string(numero) + record::cp1252("' é marcador de fim, mas há registros depois dele");
}

}  // namespace kav::orders
