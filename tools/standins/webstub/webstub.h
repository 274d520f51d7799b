// The stand-in for the restaurant's web application.
//
// It serves the two pages the monitor calls through GNU Wget:
//
//   GET /Comandas/GET_KAVCMD.php?COMANDO=CMD_IMP|CAN_ITE|CMD_FEC
//       hands out the next queued answer of that command, once, or the end
//       marker "<0000>" when none is queued;
//   GET /Comandas/WRT_KAVCMD.php
//       takes in FILES/KAVCMD.TXT of the document folder (import.h).
//
// Answers wait as files holding their exact bytes (Windows-1252), one folder
// per command under the queue folder: <queue>/CMD_IMP/001.txt, ... They are
// handed out in file-name order; a served file moves to <queue>/<command>/
// served/, so nothing is lost. Names starting with '.' are passed over: write
// a new answer under such a name and rename it when complete. Every request
// is recorded as one line of the request log:
//
//   <date> <time> <status> <page> <command or -> <answer file, "<0000>" or a note>
//
// e.g. "2024-05-01 12:00:05.123 200 GET_KAVCMD.php CMD_IMP 001.txt".
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "webstub/import.h"

namespace kav::webstub {

inline constexpr std::string_view kEndMarker = "<0000>";
inline constexpr std::string_view kCommands[] = {"CMD_IMP", "CAN_ITE", "CMD_FEC"};
inline constexpr std::string_view kServedFolder = "served";

struct Options {
  std::string bind = "127.0.0.1";
  int port = 8080;  // 0: a free port
  // The folder that stands for C:\xampp\htdocs\Comandas.
  std::filesystem::path docroot = ".";
  std::filesystem::path queue;  // empty: <docroot>/queue
  std::filesystem::path log;    // empty: <queue>/requests.log
  // The import page's work; replaceable for tests.
  std::function<ImportResult(const std::filesystem::path& docroot)> import = import_exchange_file;
};

struct Reply {
  int status = 200;
  std::string body;
};

class WebStub {
 public:
  explicit WebStub(Options options);
  ~WebStub();  // stops serving
  WebStub(const WebStub&) = delete;
  WebStub& operator=(const WebStub&) = delete;

  // Creates the queue folders and opens the request log; false with error().
  bool prepare();

  // Answers one request: `path` as requested (without the query), `query`
  // the decoded query parameters. Records it in the request log.
  Reply handle(std::string_view path, const std::multimap<std::string, std::string>& query);

  // Binds the address and port; returns the port, or -1 with error().
  int bind();
  // Serves on the bound port until stop(); blocks. False when it could not.
  bool serve();
  // prepare() + bind() + serve() on a thread of its own; returns the port or -1.
  int start();
  // Ends serve() and waits for the thread of start().
  void stop();

  const std::string& error() const { return error_; }
  const std::filesystem::path& queue_folder() const { return queue_; }
  const std::filesystem::path& log_file() const { return log_path_; }

 private:
  struct Server;
  Reply answer_command(const std::string& command);
  void record(int status, std::string_view page, std::string_view command, std::string_view note);

  Options options_;
  std::filesystem::path queue_;
  std::filesystem::path log_path_;
  std::mutex mutex_;  // one request at a time touches the queue and the log
  std::unique_ptr<Server> server_;
  std::string error_;
};

// Takes the first queued answer of `folder` (file-name order), moving it to
// `folder`/served. False when none is queued; `error` is set when one was
// queued but could not be taken.
bool take_answer(const std::filesystem::path& folder, std::string& name, std::string& bytes, std::string& error);

}  // namespace kav::webstub
