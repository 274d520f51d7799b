// The three commands of a processing run, in the order a run performs them:
// CMD_IMP (items to print), CAN_ITE (cancelled items), CMD_FEC (orders to
// bill). A command is a value: its name is the COMANDO of the exchange, of
// the pending answers' names and of the log lines; the rest says how its
// answer reads.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "board/events.h"

namespace kav::orders {

struct Command {
  enum class Kind { print_items, cancel_item, close_order };

  Kind kind;
  std::string_view name;
  // The width of the first field of the records after the answer's header:
  // the order number of a CMD_IMP item, the product code of a bill's item.
  std::size_t item_field_width;

  // The alert of a page that answered this command with an HTTP error: it
  // ends when the command's exchange ends well.
  std::string page_alert() const { return std::string(log::alert_key::web_page) + std::string(name); }
  // The alert of a command that kept finding work past the bound of a run.
  std::string answers_limit_alert() const { return std::string(log::alert_key::answers_limit) + std::string(name); }
  // The alert of an order of this command whose items did not all print.
  std::string items_limit_alert(std::string_view numero) const {
    return std::string(log::alert_key::items_limit) + std::string(name) + "." + std::string(numero);
  }

  friend bool operator==(const Command& a, const Command& b) { return a.kind == b.kind; }
};

inline constexpr Command kPrintItems{Command::Kind::print_items, "CMD_IMP", 4};
inline constexpr Command kCancelItem{Command::Kind::cancel_item, "CAN_ITE", 4};
inline constexpr Command kCloseOrder{Command::Kind::close_order, "CMD_FEC", 6};

// The command of an exact (upper-case) name; nothing for any other text.
inline std::optional<Command> command_named(std::string_view name) {
  for (const Command& command : {kPrintItems, kCancelItem, kCloseOrder}) {
    if (command.name == name) return command;
  }
  return std::nullopt;
}

}  // namespace kav::orders
