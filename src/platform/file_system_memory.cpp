#include <algorithm>

#include "platform/status.h"
#include "platform/file_system.h"
#include "record/letter_case.h"

namespace kav::platform {

class MemoryFile final : public File {
 public:
  MemoryFile(MemoryFileSystem& fs, std::string key, bool writing, bool holding = false)
      : fs_(fs), key_(std::move(key)), writing_(writing), holding_(holding), open_(true) {
    if (auto* counts = open_files()) ++(*counts)[key_];
  }
  ~MemoryFile() override { release(); }
  Status write(std::string_view bytes) override {
    if (!writing_ || fs_.fail_writes_ || !fs_.files_.count(key_)) return Status::kFailed;
    fs_.files_[key_].append(bytes);
    fs_.changed("write", key_);
    return Status::kOk;
  }
  long read(char* buf, std::size_t n) override {
    const auto it = fs_.files_.find(key_);
    if (writing_ || it == fs_.files_.end()) return -1;
    const std::size_t count = std::min(n, it->second.size() - std::min(pos_, it->second.size()));
    std::copy_n(it->second.data() + pos_, count, buf);
    pos_ += count;
    return static_cast<long>(count);
  }
  Status sync() override {
    if (fs_.fail_writes_) return Status::kFailed;
    fs_.synced(key_);
    fs_.changed("sync", key_);
    return Status::kOk;
  }
  Status close() override {
    release();
    return Status::kOk;
  }

 private:
  // The files this one counts among: held, or open for writing.
  std::map<std::string, int>* open_files() const {
    return holding_ ? &fs_.held_ : writing_ ? &fs_.writers_ : nullptr;
  }
  void release() {
    if (!open_) return;
    open_ = false;
    auto* counts = open_files();
    if (counts != nullptr && --(*counts)[key_] == 0) counts->erase(key_);
  }

  MemoryFileSystem& fs_;
  std::string key_;
  bool writing_;
  bool holding_;
  bool open_;
  std::size_t pos_ = 0;
};

namespace {
std::string parent_of(const std::string& key) {
  const auto slash = key.rfind('\\');
  return slash == std::string::npos ? std::string() : key.substr(0, slash);
}
}  // namespace

MemoryFileSystem::MemoryFileSystem() {
  for (const char* d : {"\\ORBELATEKNOVARIUM", "\\ORBELATEKNOVARIUM\\TEMP", "\\ORBELATEKNOVARIUM\\KAV",
                        "\\ORBELATEKNOVARIUM\\KAV\\ARQUIVOS", "\\XAMPP", "\\XAMPP\\HTDOCS",
                        "\\XAMPP\\HTDOCS\\COMANDAS", "\\XAMPP\\HTDOCS\\COMANDAS\\FILES"}) {
    dirs_.insert(d);
  }
  dirs_.insert("");
}

std::string MemoryFileSystem::key(std::string_view path) {
  if (path.size() >= 2 && path[1] == ':') path.remove_prefix(2);
  std::string k;
  for (char c : path) {
    if (c == '/') c = '\\';
    c = record::upper(c);
    k += c;
  }
  if (!k.empty() && k.front() != '\\') k.insert(k.begin(), '\\');
  while (k.size() > 1 && k.back() == '\\') k.pop_back();
  return k;
}

Status MemoryFileSystem::open(std::string_view path, OpenMode mode, std::unique_ptr<File>& file) {
  const std::string k = key(path);
  file.reset();
  const bool present = files_.count(k) > 0;
  switch (mode) {
    case OpenMode::input:
    case OpenMode::extend:
      if (!present) return Status::kNotFound;
      if (mode == OpenMode::extend && held_.count(k)) return Status::kDenied;
      break;
    case OpenMode::output:
      if (!dirs_.count(parent_of(k)) || dirs_.count(k)) return Status::kFailed;
      if (held_.count(k)) return Status::kDenied;
      files_[k].clear();
      if (!present) new_node(k);
      break;
  }
  file = std::make_unique<MemoryFile>(*this, k, mode != OpenMode::input);
  if (mode != OpenMode::input) changed("open", k);
  return Status::kOk;
}

Status MemoryFileSystem::hold(std::string_view path, std::unique_ptr<File>& file) {
  const std::string k = key(path);
  file.reset();
  if (!files_.count(k)) return Status::kNotFound;
  if (writers_.count(k)) return Status::kDenied;
  file = std::make_unique<MemoryFile>(*this, k, false, true);
  return Status::kOk;
}

Status MemoryFileSystem::remove(std::string_view path) {
  const std::string k = key(path);
  if (held_.count(k)) return Status::kDenied;
  if (files_.erase(k) == 0) return Status::kNotFound;
  node_of_.erase(k);
  changed("remove", k);
  return Status::kOk;
}

Status MemoryFileSystem::rename(std::string_view from, std::string_view to) {
  const std::string f = key(from), t = key(to);
  const auto it = files_.find(f);
  if (it == files_.end() || !dirs_.count(parent_of(t))) return Status::kNotFound;
  if (held_.count(f) || held_.count(t)) return Status::kDenied;
  std::string data = std::move(it->second);
  files_.erase(it);
  files_[t] = std::move(data);
  if (tracking_) {
    node_of_[t] = node_of_[f];
    node_of_.erase(f);
  }
  changed("rename", t);
  return Status::kOk;
}

bool MemoryFileSystem::exists(std::string_view path) {
  const std::string k = key(path);
  return files_.count(k) > 0 || dirs_.count(k) > 0;
}

Status MemoryFileSystem::create_directory(std::string_view path) {
  const std::string k = key(path);
  if (!dirs_.count(parent_of(k))) return Status::kNotFound;
  if (files_.count(k)) return Status::kFailed;
  if (dirs_.insert(k).second) changed("mkdir", k);
  return Status::kOk;
}

Status MemoryFileSystem::remove_folder(std::string_view path) {
  const std::string k = key(path);
  if (!dirs_.count(k)) return Status::kNotFound;
  const auto inside = [&](const std::string& entry) { return parent_of(entry) == k; };
  if (std::ranges::any_of(dirs_, inside) || std::ranges::any_of(files_, [&](const auto& f) { return inside(f.first); })) {
    return Status::kFailed;
  }
  dirs_.erase(k);
  changed("rmdir", k);
  return Status::kOk;
}

std::vector<std::string> MemoryFileSystem::list(std::string_view folder, bool folders) {
  const std::string k = key(folder);
  std::vector<std::string> out;
  auto child = [&](const std::string& entry) {
    if (parent_of(entry) == k && !entry.empty()) out.push_back(entry.substr(k.size() + 1));
  };
  if (folders) {
    for (const auto& d : dirs_) child(d);
  } else {
    for (const auto& f : files_) child(f.first);
  }
  return out;
}

void MemoryFileSystem::put(std::string_view path, std::string contents) {
  const std::string k = key(path);
  files_[k] = std::move(contents);
  new_node(k);
  changed("put", k);
}

Status MemoryFileSystem::sync_directory(std::string_view folder) {
  if (fail_writes_) return Status::kFailed;
  const std::string k = key(folder);
  if (tracking_) {
    std::erase_if(durable_files_, [&](const auto& f) { return parent_of(f.first) == k; });
    for (const auto& [name, node] : node_of_) {
      if (parent_of(name) == k) durable_files_[name] = node;
    }
    std::erase_if(durable_dirs_, [&](const std::string& d) { return !d.empty() && parent_of(d) == k; });
    for (const auto& d : dirs_) {
      if (!d.empty() && parent_of(d) == k) durable_dirs_.insert(d);
    }
  }
  changed("syncdir", k);
  return Status::kOk;
}

void MemoryFileSystem::new_node(const std::string& k) {
  if (tracking_) node_of_[k] = next_node_++;
}

void MemoryFileSystem::synced(const std::string& k) {
  if (!tracking_) return;
  const auto node = node_of_.find(k);
  const auto data = files_.find(k);
  if (node != node_of_.end() && data != files_.end()) synced_[node->second] = data->second;
}

void MemoryFileSystem::track_power_cuts() {
  tracking_ = true;
  node_of_.clear();
  synced_.clear();
  durable_files_.clear();
  for (const auto& [k, data] : files_) {
    node_of_[k] = next_node_;
    durable_files_[k] = next_node_;
    synced_[next_node_++] = data;
  }
  durable_dirs_ = dirs_;
}

MemoryFileSystem MemoryFileSystem::after_power_cut() const {
  MemoryFileSystem out;
  out.dirs_.clear();
  out.dirs_.insert("");
  // A folder stays when its entry and the entries of the folders above it were synced.
  for (const auto& d : durable_dirs_) {  // in order: a folder comes after the folders above it
    if (!d.empty() && out.dirs_.count(parent_of(d))) out.dirs_.insert(d);
  }
  for (const auto& [k, node] : durable_files_) {
    if (!out.dirs_.count(parent_of(k))) continue;
    const auto data = synced_.find(node);
    out.files_[k] = data == synced_.end() ? std::string() : data->second;
  }
  out.track_power_cuts();
  return out;
}

std::string MemoryFileSystem::contents(std::string_view path) const {
  const auto it = files_.find(key(path));
  return it == files_.end() ? std::string() : it->second;
}

void MemoryFileSystem::remove_directory(std::string_view path) {
  const std::string k = key(path);
  std::erase_if(dirs_, [&](const std::string& d) { return d == k || d.starts_with(k + "\\"); });
  std::erase_if(files_, [&](const auto& f) { return f.first.starts_with(k + "\\"); });
  std::erase_if(node_of_, [&](const auto& f) { return f.first.starts_with(k + "\\"); });
}

}  // namespace kav::platform
