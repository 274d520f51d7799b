// A receipt printer on the network, spoken to straight at its raw port (9100
// as a rule): its real-time status, and a ticket's ESC/POS bytes.
//
// The status is asked with DLE EOT (10 04 n), which a printer answers at
// once, whatever it is printing, with one byte in which bit 0 and bit 7 are
// 0 and bits 1 and 4 are 1:
//   DLE EOT 1  printer status   bit 3  offline
//   DLE EOT 2  offline cause    bit 2  cover open
//                               bit 5  stopped for want of paper
//                               bit 6  an error
//   DLE EOT 4  paper sensors    bits 5 and 6  paper end
// All three are asked, in that order. An answer of another shape, or none
// within the status limit, is a printer that does not answer.
//
// A ticket: one connection; the status; when it is ready, the bytes; the
// status again. Printed only when every byte was written and the status
// after is ready. Bytes partly written, or written and not followed by a
// ready status, leave the ticket's fate unknown: it may have printed, in
// part or whole, and must not be sent again by itself.
//
// Time limits: 3 s to connect, 2 s for each status answer, 20 s to write a
// ticket's bytes; a ticket ties up its printer for at most 3 + 6 + 20 + 6 =
// 35 s. The caller makes one connection at a time per printer.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace kav::platform::print {

enum class NetState {
  ready,
  offline,     // offline for another reason than those below
  cover_open,
  paper_end,
  error,       // a mechanical, cutter or other error
  no_answer,   // no connection, or no status answer in time
};

struct NetLimits {
  std::chrono::milliseconds connect{3000};
  std::chrono::milliseconds status{2000};
  std::chrono::milliseconds write{20000};
};

inline constexpr std::string_view kStatusQueries[] = {"\x10\x04\x01", "\x10\x04\x02", "\x10\x04\x04"};

// The state from the three status bytes.
NetState net_state(unsigned char printer, unsigned char offline_cause, unsigned char paper);

struct NetResult {
  enum class Sent {
    printed,    // every byte written, the status after it ready
    not_sent,   // nothing written: the printer was not ready (state says why)
    uncertain,  // written in part, or not followed by a ready status
  };
  Sent sent = Sent::not_sent;
  NetState state = NetState::no_answer;  // the last status seen
  std::string detail;                    // for the log: what failed
};

// The printer's status, on a connection of its own.
NetState query_net_printer(const std::string& host, int port, const NetLimits& limits = {});
// One ticket's bytes.
NetResult send_to_net_printer(const std::string& host, int port, std::string_view bytes,
                              const NetLimits& limits = {});

}  // namespace kav::platform::print
