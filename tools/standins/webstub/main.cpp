// kav-webstub: the stand-in web application (see webstub.h).
//
//   kav-webstub [--port N] [--bind ADDRESS] [--docroot DIR] [--queue DIR] [--log FILE]
//
// The first line on standard output is the port it listens on (useful with
// --port 0). It ends cleanly on SIGTERM or SIGINT.
#include <signal.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>
#include <thread>

#include "webstub/webstub.h"

namespace {

void usage(std::ostream& out) {
  out << "usage: kav-webstub [--port N] [--bind ADDRESS] [--docroot DIR] [--queue DIR] [--log FILE]\n"
         "  --port N        port to listen on (default 8080; 0 picks a free one)\n"
         "  --bind ADDRESS  address to listen on (default 127.0.0.1)\n"
         "  --docroot DIR   folder standing for C:\\xampp\\htdocs\\Comandas\n"
         "                  (default $KAVCOMANDA_ROOT/xampp/htdocs/Comandas, or .)\n"
         "  --queue DIR     queued answers, one folder per command (default DOCROOT/queue)\n"
         "  --log FILE      request log (default QUEUE/requests.log)\n"
         "The first line written to standard output is the port.\n";
}

bool is_loopback(std::string_view address) {
  return address.substr(0, 4) == "127." || address == "::1" || address == "localhost";
}

}  // namespace

int main(int argc, char** argv) {
  kav::webstub::Options options;
  if (const char* root = std::getenv("KAVCOMANDA_ROOT"); root != nullptr && *root != '\0')
    options.docroot = std::filesystem::path(root) / "xampp" / "htdocs" / "Comandas";

  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      usage(std::cout);
      return 0;
    }
    if (i + 1 >= argc) {
      usage(std::cerr);
      return 2;
    }
    const std::string value = argv[++i];
    if (arg == "--port") {
      char* end = nullptr;
      const long port = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || port < 0 || port > 65535) {
        std::cerr << "kav-webstub: bad port " << value << '\n';
        return 2;
      }
      options.port = static_cast<int>(port);
    } else if (arg == "--bind") {
      options.bind = value;
    } else if (arg == "--docroot") {
      options.docroot = value;
    } else if (arg == "--queue") {
      options.queue = value;
    } else if (arg == "--log") {
      options.log = value;
    } else {
      usage(std::cerr);
      return 2;
    }
  }
  if (!is_loopback(options.bind))
    std::cerr << "kav-webstub: warning: listening on " << options.bind << ", not on loopback\n";

  // The signals are taken by sigwait below, not by whichever thread they hit.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  kav::webstub::WebStub stub(options);
  const int port = stub.start();
  if (port < 0) {
    std::cerr << "kav-webstub: " << stub.error() << '\n';
    return 1;
  }
  std::cout << port << std::endl;
  std::cerr << "kav-webstub: http://" << options.bind << ':' << port << "/Comandas/  queue "
            << stub.queue_folder().string() << "  log " << stub.log_file().string() << std::endl;

  const timespec wait{0, 200 * 1000 * 1000};
  for (;;) {
    const int sig = sigtimedwait(&stop_signals, nullptr, &wait);
    if (sig == SIGTERM || sig == SIGINT) break;
  }
  stub.stop();
  return 0;
}
