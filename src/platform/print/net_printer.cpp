#include "platform/print/net_printer.h"

#include "platform/print/net_socket.h"

namespace kav::platform::print {

namespace {

bool well_formed(unsigned char b) { return (b & 0x93) == 0x12; }

NetState ask(NetSocket& socket, const NetLimits& limits) {
  socket.drain();
  unsigned char answers[3] = {};
  for (std::size_t i = 0; i < 3; ++i) {
    if (socket.send_all(kStatusQueries[i], limits.status) != kStatusQueries[i].size()) return NetState::no_answer;
    const auto b = socket.receive(limits.status);
    if (!b || !well_formed(*b)) return NetState::no_answer;
    answers[i] = *b;
  }
  return net_state(answers[0], answers[1], answers[2]);
}

}  // namespace

NetState net_state(unsigned char printer, unsigned char offline_cause, unsigned char paper) {
  if ((offline_cause & 0x04) != 0) return NetState::cover_open;
  if ((offline_cause & 0x20) != 0 || (paper & 0x60) != 0) return NetState::paper_end;
  if ((offline_cause & 0x40) != 0) return NetState::error;
  if ((printer & 0x08) != 0) return NetState::offline;
  return NetState::ready;
}

NetState query_net_printer(const std::string& host, int port, const NetLimits& limits) {
  std::string error;
  const auto socket = connect_to(host, port, limits.connect, error);
  return socket ? ask(*socket, limits) : NetState::no_answer;
}

NetResult send_to_net_printer(const std::string& host, int port, std::string_view bytes, const NetLimits& limits) {
  NetResult r;
  const auto socket = connect_to(host, port, limits.connect, r.detail);
  if (!socket) return r;
  r.detail.clear();
  r.state = ask(*socket, limits);
  if (r.state != NetState::ready) {
    if (r.state == NetState::no_answer) r.detail = "no status answer";
    return r;
  }
  const std::size_t written = socket->send_all(bytes, limits.write);
  if (written != bytes.size()) {
    r.sent = written == 0 ? NetResult::Sent::not_sent : NetResult::Sent::uncertain;
    r.state = NetState::no_answer;
    r.detail = "connection lost after " + std::to_string(written) + " of " + std::to_string(bytes.size()) + " bytes";
    if (written == 0) r.detail = "connection lost before the ticket";
    return r;
  }
  r.state = ask(*socket, limits);
  r.sent = r.state == NetState::ready ? NetResult::Sent::printed : NetResult::Sent::uncertain;
  if (r.state != NetState::ready) r.detail = "status after the ticket not ready";
  return r;
}

}  // namespace kav::platform::print
