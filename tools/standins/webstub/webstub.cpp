#include "webstub/webstub.h"

#include <httplib.h>
#include <strings.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <system_error>
#include <thread>
#include <vector>

namespace kav::webstub {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kGetPage = "/Comandas/GET_KAVCMD.php";
constexpr std::string_view kImportPage = "/Comandas/WRT_KAVCMD.php";
constexpr std::size_t kMaxAnswerBytes = 16 * 1024 * 1024;

// Pages are files on a Windows web server: their names match without regard to case.
bool same_page(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// A request's text as one word of the log line.
std::string loggable(std::string_view text) {
  std::string out;
  for (const char c : text.substr(0, 100)) out += c > ' ' && c < 127 ? c : '_';
  return out.empty() ? "-" : out;
}

std::string now_text() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[40];
  const std::size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  char frac[8];
  std::snprintf(frac, sizeof frac, ".%03d", static_cast<int>(ms));
  return std::string(buf, n) + frac;
}

// A name under `folder` that is not taken yet: `name`, else `name`.1, `name`.2 ...
fs::path free_name(const fs::path& folder, const std::string& name) {
  fs::path target = folder / name;
  std::error_code ec;
  for (int n = 1; fs::exists(target, ec); ++n) target = folder / (name + "." + std::to_string(n));
  return target;
}

}  // namespace

bool take_answer(const fs::path& folder, std::string& name, std::string& bytes, std::string& error) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string n = it->path().filename().string();
    std::error_code type_ec;
    if (!n.empty() && n[0] != '.' && it->is_regular_file(type_ec)) names.push_back(n);
  }
  if (names.empty()) return false;
  name = *std::min_element(names.begin(), names.end());

  // Moved first: whatever happens next, the answer is handed out at most once
  // and stays in served/.
  const fs::path served_folder = folder / kServedFolder;
  fs::create_directories(served_folder, ec);
  const fs::path served = free_name(served_folder, name);
  fs::rename(folder / name, served, ec);
  if (ec) {
    error = "cannot move " + name + " to " + std::string(kServedFolder) + ": " + ec.message();
    return false;
  }
  std::ifstream in(served, std::ios::binary);
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) {
    error = "cannot read " + served.string();
    return false;
  }
  if (bytes.size() > kMaxAnswerBytes) {
    error = name + " is too large";
    return false;
  }
  return true;
}

struct WebStub::Server {
  httplib::Server http;
  std::thread thread;
  std::atomic<bool> served{false};  // serve() of the thread has returned
  int port = -1;
};

WebStub::WebStub(Options options) : options_(std::move(options)), server_(std::make_unique<Server>()) {
  queue_ = options_.queue.empty() ? options_.docroot / "queue" : options_.queue;
  log_path_ = options_.log.empty() ? queue_ / "requests.log" : options_.log;

  server_->http.Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
    const Reply reply = handle(req.path, req.params);
    res.status = reply.status;
    res.set_header("Cache-Control", "no-store");
    res.set_content(reply.body, "text/plain; charset=windows-1252");
  });
}

WebStub::~WebStub() { stop(); }

bool WebStub::prepare() {
  std::error_code ec;
  for (const std::string_view command : kCommands) {
    fs::create_directories(queue_ / command, ec);
    if (ec) {
      error_ = "cannot create " + (queue_ / command).string() + ": " + ec.message();
      return false;
    }
  }
  if (log_path_.has_parent_path()) fs::create_directories(log_path_.parent_path(), ec);
  std::ofstream log(log_path_, std::ios::app);
  if (!log) {
    error_ = "cannot open the request log " + log_path_.string();
    return false;
  }
  return true;
}

Reply WebStub::handle(std::string_view path, const std::multimap<std::string, std::string>& query) {
  const std::lock_guard lock(mutex_);
  if (same_page(path, kGetPage)) {
    const auto it = query.find("COMANDO");
    const std::string command = it == query.end() ? std::string() : it->second;
    if (std::find(std::begin(kCommands), std::end(kCommands), command) != std::end(kCommands))
      return answer_command(command);
    record(404, "GET_KAVCMD.php", loggable(command), "unknown-command");
    return {404, "Comando desconhecido\n"};
  }
  if (same_page(path, kImportPage)) {
    ImportResult result = options_.import(options_.docroot);
    record(200, "WRT_KAVCMD.php", "-", loggable(result.note));
    return {200, std::move(result.answer)};
  }
  record(404, loggable(path), "-", "not-found");
  return {404, "Not Found\n"};
}

Reply WebStub::answer_command(const std::string& command) {
  std::string name, bytes, error;
  if (take_answer(queue_ / command, name, bytes, error)) {
    record(200, "GET_KAVCMD.php", command, loggable(name));
    return {200, std::move(bytes)};
  }
  if (!error.empty()) {
    record(500, "GET_KAVCMD.php", command, loggable(error));
    return {500, "Erro interno\n"};
  }
  record(200, "GET_KAVCMD.php", command, kEndMarker);
  return {200, std::string(kEndMarker)};
}

void WebStub::record(int status, std::string_view page, std::string_view command, std::string_view note) {
  std::ofstream log(log_path_, std::ios::app);
  log << now_text() << ' ' << status << ' ' << page << ' ' << command << ' ' << note << '\n';
}

int WebStub::bind() {
  if (options_.port == 0) {
    server_->port = server_->http.bind_to_any_port(options_.bind);
  } else {
    server_->port = server_->http.bind_to_port(options_.bind, options_.port) ? options_.port : -1;
  }
  if (server_->port <= 0) {
    server_->port = -1;
    error_ = "cannot listen on " + options_.bind + ":" + std::to_string(options_.port);
  }
  return server_->port;
}

bool WebStub::serve() { return server_->http.listen_after_bind(); }

int WebStub::start() {
  if (!prepare() || bind() < 0) return -1;
  server_->thread = std::thread([this] {
    serve();
    server_->served = true;
  });
  // stop() has effect only once the server runs.
  while (!server_->http.is_running() && !server_->served) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return server_->port;
}

void WebStub::stop() {
  if (server_->http.is_running()) server_->http.stop();
  if (server_->thread.joinable()) server_->thread.join();
}

}  // namespace kav::webstub
