/*
 * Case-insensitive lookups without reading a folder for each of them. Per process, each folder
 * looked up keeps its names by their folded spelling, and stays exact through inotify:
 *   - the watch is added before the folder is read, and every event since is applied, in order,
 *     before each answer. For any name that an event touched the last event decides; a name that
 *     no event touched did not change, so the listing holds for it. Applying an event twice is
 *     harmless (names form sets).
 *   - the kernel queues an event inside the call that changes the folder, so a change by any
 *     process that finished before a lookup began is applied before the lookup answers.
 *   - folders are known by device and inode, so a folder replaced under the same path is read
 *     afresh; a lost queue (overflow) or a folder gone forgets what is known.
 * Where inotify is not to be had (no instance left, no watch left, a forked child sharing its
 * parent's queue), the answer is -1 and the caller reads the folder as before: slower, never
 * wrong.
 */
#include <dirent.h>
#include <errno.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>

#include "platform/posix/machine.h"

namespace winsim {
namespace detail {
namespace {

const size_t kMaxFolders = 64;  // watches are a per-user resource; forget the least used
const uint32_t kEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR;

std::string Fold(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) c = (char)FoldUpper1252((unsigned char)c);
  return folded;
}

struct Folder {
  std::pair<dev_t, ino_t> id;
  std::unordered_map<std::string, std::set<std::string>> names;  // folded -> own spellings
  unsigned long long used = 0;
};

class Index {
 public:
  int Find(const std::string& dir, const std::string& name, std::string* actual) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Ready()) return -1;
    Drain();
    struct stat st;
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return -1;
    Folder* folder = Known({st.st_dev, st.st_ino});
    if (!folder && !(folder = Read(dir, {st.st_dev, st.st_ino}))) return -1;
    folder->used = ++clock_;
    auto it = folder->names.find(Fold(name));
    if (it == folder->names.end()) return 0;
    *actual = *it->second.begin();  // std::set orders bytes as unsigned, as the scan does
    return 1;
  }

 private:
  bool Ready() {
    if (fd_ == -2) {
      fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
      owner_ = getpid();
    }
    // A child forked without exec shares the queue: whatever it read, its parent would miss.
    return fd_ >= 0 && owner_ == getpid();
  }

  Folder* Known(std::pair<dev_t, ino_t> id) {
    for (auto& w : folders_)
      if (w.second.id == id) return &w.second;
    return nullptr;
  }

  Folder* Read(const std::string& dir, std::pair<dev_t, ino_t> id) {
    if (folders_.size() >= kMaxFolders) {
      auto oldest = folders_.begin();
      for (auto it = folders_.begin(); it != folders_.end(); ++it)
        if (it->second.used < oldest->second.used) oldest = it;
      Forget(oldest->first);
    }
    // The watch goes on the very folder that is read, through its open descriptor: the path
    // may name another folder by now. It is added before the read.
    DIR* d = opendir(dir.c_str());
    struct stat st;
    int wd = -1;
    if (d && fstat(dirfd(d), &st) == 0 && std::make_pair(st.st_dev, st.st_ino) == id)
      wd = inotify_add_watch(fd_, ("/proc/self/fd/" + std::to_string(dirfd(d))).c_str(), kEvents);
    if (wd < 0) {
      if (d) closedir(d);
      return nullptr;
    }
    Folder& folder = folders_[wd];
    folder = Folder();
    folder.id = id;
    while (struct dirent* e = readdir(d)) {
      std::string entry = e->d_name;
      if (entry != "." && entry != "..") folder.names[Fold(entry)].insert(entry);
    }
    closedir(d);
    Drain();  // what changed while the folder was read
    return Known(id);
  }

  void Forget(int wd) {
    folders_.erase(wd);
    inotify_rm_watch(fd_, wd);
  }

  void Drain() {
    alignas(struct inotify_event) char buffer[16384];
    for (;;) {
      ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;  // an event left unread would make a stale answer
      if (n <= 0) return;
      for (char* p = buffer; p < buffer + n;) {
        const struct inotify_event* e = reinterpret_cast<const struct inotify_event*>(p);
        p += sizeof *e + e->len;
        if (e->mask & IN_Q_OVERFLOW) {
          while (!folders_.empty()) Forget(folders_.begin()->first);
          continue;
        }
        auto it = folders_.find(e->wd);
        if (it == folders_.end()) continue;
        if (e->mask & IN_IGNORED) {
          folders_.erase(it);  // the folder is gone, and the kernel dropped the watch
          continue;
        }
        if (!e->len) continue;
        std::string entry = e->name;  // zero-padded by the kernel
        if (e->mask & (IN_CREATE | IN_MOVED_TO)) it->second.names[Fold(entry)].insert(entry);
        if (e->mask & (IN_DELETE | IN_MOVED_FROM)) {
          auto names = it->second.names.find(Fold(entry));
          if (names != it->second.names.end() && names->second.erase(entry) &&
              names->second.empty())
            it->second.names.erase(names);
        }
      }
    }
  }

  std::mutex mutex_;
  int fd_ = -2;  // not yet tried
  pid_t owner_ = 0;
  std::map<int, Folder> folders_;  // by watch
  unsigned long long clock_ = 0;
};

Index& TheIndex() {
  static Index* index = new Index();  // never destroyed: lookups may run during exit
  return *index;
}

}  // namespace

int FindFoldedEntry(const std::string& dir, const std::string& name, std::string* actual) {
  return TheIndex().Find(dir, name, actual);
}

}  // namespace detail
}  // namespace winsim
