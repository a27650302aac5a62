// The output folder replaced whole: a run's files go into a fresh folder
// beside it, which then takes its place in one exchange of names.
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <mutex>
#include <set>

#include "tools/lux/report/outputs.h"
#include "tools/lux/scene/input_file.h"

namespace lux {

namespace fs = std::filesystem;

namespace {

// Fresh folders of sets not yet committed, for the signal handler's thread.
std::mutex& pending_mutex() {
  static std::mutex m;
  return m;
}
std::set<fs::path>& pending() {
  static std::set<fs::path> p;
  return p;
}

// Names of our folders beside the output folder "NAME": ".NAME.zel-lux-new.PID"
// while a run writes, ".NAME.zel-lux-old.PID" while the previous results go.
std::string sibling_prefix(const fs::path& dir) {
  return "." + dir.filename().string() + ".zel-lux-";
}
fs::path sibling(const fs::path& dir, const char* kind) {
  return dir.parent_path() / (sibling_prefix(dir) + kind + "." + std::to_string(getpid()));
}

bool process_gone(const std::string& pid_text) {
  if (pid_text.empty() || !std::all_of(pid_text.begin(), pid_text.end(), ::isdigit) ||
      pid_text.size() > 9)
    return false;
  const auto pid = static_cast<pid_t>(std::stol(pid_text));
  return pid > 0 && pid != getpid() && kill(pid, 0) == -1 && errno == ESRCH;
}

// Removes what runs of ours that were killed left beside the output folder.
void remove_stale_siblings(const fs::path& dir) {
  std::error_code ec;
  const std::string prefix = sibling_prefix(dir);
  for (const auto& e : fs::directory_iterator(dir.parent_path(), ec)) {
    const std::string name = e.path().filename().string();
    if (name.rfind(prefix, 0) != 0) continue;
    const std::string rest = name.substr(prefix.size());  // "new.PID" or "old.PID"
    if ((rest.rfind("new.", 0) == 0 || rest.rfind("old.", 0) == 0) && process_gone(rest.substr(4)))
      fs::remove_all(e.path(), ec);
  }
}

// A temporary file an earlier version left in the folder: ".NAME.tmpPID".
bool old_temporary(const std::string& name) {
  const auto at = name.rfind(".tmp");
  return name.size() > 1 && name[0] == '.' && at != std::string::npos && at + 4 < name.size() &&
         std::all_of(name.begin() + std::ptrdiff_t(at + 4), name.end(), ::isdigit);
}

// The first entry of an existing output folder that no run of ours wrote,
// or "" when everything in it is ours to replace. Only the manifest says
// what is ours: a folder without one holds nothing of ours, whatever its
// files are called (a report.json beside a thesis.pdf proves nothing), and
// a file we cannot account for is never deleted.
std::string foreign_entry(const fs::path& dir) {
  std::set<std::string> listed;
  std::ifstream manifest(dir / kManifestName);
  const bool has_manifest = static_cast<bool>(manifest);
  for (std::string line; std::getline(manifest, line);)
    if (!line.empty()) listed.insert(line.substr(0, line.find('/')));
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    const std::string name = e.path().filename().string();
    if (has_manifest && (name == kManifestName || old_temporary(name) || listed.count(name) != 0))
      continue;
    return name;
  }
  if (ec) throw Error(dir.string() + ": cannot list the output folder: " + ec.message());
  return "";
}

// Refuses an output folder that holds anything no run of ours wrote.
void refuse_foreign(const fs::path& dir) {
  const std::string foreign = foreign_entry(dir);
  if (!foreign.empty())
    throw Error(dir.string() + ": holds \"" + excerpt(foreign) +
                "\", which no run of zel-lux wrote; the results replace the whole folder, "
                "so choose another output folder (-o) or empty this one");
}

// Exchanges two paths in one step where the file system can; otherwise the
// old one is moved aside first (and back, should the second rename fail).
void swap_into_place(const fs::path& fresh, const fs::path& dir, const fs::path& aside) {
  if (renameat2(AT_FDCWD, fresh.c_str(), AT_FDCWD, dir.c_str(), RENAME_EXCHANGE) == 0) return;
  if (errno != EINVAL && errno != ENOSYS)
    throw Error(dir.string() + ": cannot replace the output folder: " + std::strerror(errno));
  std::error_code ec;
  fs::rename(dir, aside, ec);
  if (ec) throw Error(dir.string() + ": cannot replace the output folder: " + ec.message());
  fs::rename(fresh, dir, ec);
  if (ec) {
    std::error_code ignored;
    fs::rename(aside, dir, ignored);
    throw Error(dir.string() + ": cannot replace the output folder: " + ec.message());
  }
  fs::rename(aside, fresh, ec);  // so that the caller removes the old results in one place
}

}  // namespace

void discard_unfinished_outputs() {
  std::lock_guard<std::mutex> lock(pending_mutex());
  for (const fs::path& p : pending()) {
    // A file may appear while the folder is removed; try again then.
    std::error_code ec;
    for (int attempt = 0; attempt < 10; ++attempt) {
      fs::remove_all(p, ec);
      if (!ec) break;
    }
  }
  pending().clear();
}

OutputSet::OutputSet(fs::path dir) : dir_(std::move(dir)) {
  // "out/" and "out" are one folder; its name must be its last component.
  if (!dir_.empty() && !dir_.has_filename()) dir_ = dir_.parent_path();
  if (dir_.empty() || dir_.filename() == "." || dir_.filename() == "..") {
    std::error_code ec;
    const fs::path whole = fs::absolute(dir_.empty() ? fs::path(".") : dir_, ec);
    if (ec) throw Error(dir_.string() + ": cannot find the output folder: " + ec.message());
    dir_ = whole.lexically_normal();
  }
  if (!dir_.has_filename()) dir_ = dir_.parent_path();
}

OutputSet::~OutputSet() {
  if (committed_ || staging_.empty()) return;
  std::error_code ignored;
  {
    std::lock_guard<std::mutex> lock(pending_mutex());
    fs::remove_all(staging_, ignored);
    pending().erase(staging_);
  }
  for (const fs::path& d : made_) fs::remove(d, ignored);  // only while empty
}

void OutputSet::begin() {
  if (!staging_.empty()) return;
  std::error_code ec;
  const fs::path parent = dir_.has_parent_path() ? dir_.parent_path() : fs::path(".");
  if (fs::exists(dir_, ec) && !fs::is_directory(dir_, ec))
    throw Error(dir_.string() + ": cannot make the output folder: a file of that name exists");
  for (fs::path p = parent; !p.empty() && !fs::exists(p, ec); p = p.parent_path()) {
    made_.push_back(p);
    if (!p.has_relative_path() || p == p.parent_path()) break;
  }
  fs::create_directories(parent, ec);
  if (ec) throw Error(dir_.string() + ": cannot make the output folder: " + ec.message());
  remove_stale_siblings(dir_);
  const fs::path fresh = sibling(dir_, "new");
  fs::remove_all(fresh, ec);
  {
    std::lock_guard<std::mutex> lock(pending_mutex());
    fs::create_directory(fresh, ec);
    if (ec) throw Error(dir_.string() + ": cannot make the output folder: " + ec.message());
    pending().insert(fresh);
  }
  staging_ = fresh;
}

fs::path OutputSet::reserve(const std::string& name) {
  begin();
  const fs::path temp = staging_ / name;
  if (temp.has_parent_path() && temp.parent_path() != staging_) {
    std::error_code ec;
    fs::create_directories(temp.parent_path(), ec);
    if (ec) throw Error((dir_ / name).string() + ": cannot make its folder: " + ec.message());
  }
  names_.push_back(name);
  return temp;
}

void OutputSet::write_text(const std::string& name, const std::string& text) {
  const fs::path temp = reserve(name);
  std::ofstream out(temp, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) throw Error((dir_ / name).string() + ": cannot write the file");
}

void OutputSet::write_file(const std::string& name,
                           const std::function<void(const fs::path&)>& write) {
  const fs::path temp = reserve(name);
  try {
    write(temp);
  } catch (const Error& e) {
    std::string text = e.what();
    const std::string shown = (dir_ / name).string();
    for (auto at = text.find(temp.string()); at != std::string::npos;
         at = text.find(temp.string(), at + shown.size()))
      text.replace(at, temp.string().size(), shown);
    throw Error(text);
  }
}

void OutputSet::check_replaceable() const {
  std::error_code ec;
  if (!fs::exists(dir_, ec)) return;
  if (!fs::is_directory(dir_, ec))
    throw Error(dir_.string() + ": cannot make the output folder: a file of that name exists");
  refuse_foreign(dir_);
}

void OutputSet::commit() {
  begin();
  std::string listing;
  for (const auto& n : names_) listing += n + "\n";
  {
    std::ofstream manifest(staging_ / kManifestName, std::ios::binary | std::ios::trunc);
    manifest << listing;
    manifest.close();
    if (!manifest) throw Error(dir_.string() + ": cannot write the list of the run's files");
  }
  std::lock_guard<std::mutex> lock(pending_mutex());
  std::error_code ec;
  if (!fs::exists(dir_, ec)) {
    fs::rename(staging_, dir_, ec);
    if (ec) throw Error(dir_.string() + ": cannot make the output folder: " + ec.message());
  } else {
    if (!fs::is_directory(dir_, ec))
      throw Error(dir_.string() + ": cannot replace the output folder: it is not a folder");
    refuse_foreign(dir_);
    swap_into_place(staging_, dir_, sibling(dir_, "old"));
    fs::remove_all(staging_, ec);  // now the previous results
  }
  pending().erase(staging_);
  committed_ = true;
}

std::vector<fs::path> OutputSet::files() const {
  std::vector<fs::path> out;
  for (const auto& n : names_) out.push_back(dir_ / n);
  return out;
}

}  // namespace lux
