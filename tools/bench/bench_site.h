// What the benchmarks of a check share: a laid-out temporary root with GNU
// Wget linked in as KAV\WGET, the stand-in web application on loopback, bare
// Wget calls to compare with, and medians. POSIX only.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/temp_root.h"
#include "webstub/webstub.h"

extern char** environ;

namespace kav::bench {

inline double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// One Wget call as a batch line would make it, without the interpreter, run
// in `folder`; true when Wget succeeded.
inline bool bare_wget(const std::string& url, const std::string& answer, const std::string& folder) {
  std::vector<std::string> args{"/usr/bin/wget", url, "--output-document=" + answer, "--no-cache"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A root with Wget and the stand-in serving its queue; both go with it.
struct Site {
  Site() {
    root.lay_out();
    std::filesystem::create_symlink("/usr/bin/wget", root.path() / "OrbelaTeknovarium/KAV/WGET");
    options.docroot = root.path() / "xampp/htdocs/Comandas";
    options.queue = root.path() / "queue";
    options.port = 0;
    stub = std::make_unique<webstub::WebStub>(options);
    port = stub->start();
  }
  ~Site() { stub->stop(); }
  Site(const Site&) = delete;
  Site& operator=(const Site&) = delete;

  bool started() const { return port > 0; }
  std::string host() const { return "127.0.0.1:" + std::to_string(port); }
  std::string temp() const { return (root.path() / "OrbelaTeknovarium/Temp").string(); }

  test::TempRoot root;
  webstub::Options options;
  std::unique_ptr<webstub::WebStub> stub;
  int port = 0;
};

}  // namespace kav::bench
