/*
 * Case-insensitive lookups without reading a folder for each of them. Per process, each folder
 * looked up keeps its names by their folded spelling, and stays exact through inotify:
 *   - the watch is set on the folder before it is read, and every lookup first reads the whole
 *     queue. A name that no event touched since the watch was set did not change, so the listing
 *     holds for it; a name that an event touched is asked of the folder again once its event is
 *     read, which sees at least the change that queued it, and a later change queues another.
 *   - the kernel queues an event inside the call that changes the folder, so a change by any
 *     process that finished before a lookup began is seen by that lookup.
 *   - folders are known by device and inode and held open, so a folder replaced under the same
 *     path is read afresh and an inode number is not handed on while it is known; a lost queue
 *     (overflow) or a folder gone forgets what is known.
 * Where inotify is not to be had (no instance or watch left, no /proc, a forked child sharing
 * its parent's queue), the answer is -1 and the caller reads the folder as before: slower,
 * never wrong.
 */
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
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

const size_t kMaxFolders = 16;  // each holds a descriptor and a watch; the least used goes
const uint32_t kEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_ONLYDIR;

std::string Fold(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) c = (char)FoldUpper1252((unsigned char)c);
  return folded;
}

struct Folder {
  std::pair<dev_t, ino_t> id;
  int fd = -1;  // the folder itself, whatever its path names meanwhile
  std::unordered_map<std::string, std::set<std::string>> names;  // folded -> own spellings
  unsigned long long used = 0;

  // Whether name is there now, asked of the folder itself.
  void Recheck(const std::string& name) {
    struct stat st;
    std::string key = Fold(name);
    if (fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      names[key].insert(name);
    } else {
      auto it = names.find(key);
      if (it != names.end() && it->second.erase(name) && it->second.empty()) names.erase(it);
    }
  }
};

class Index {
 public:
  int Find(const std::string& dir, const std::string& name, std::string* actual) {
    // A child forked without exec shares the queue: whatever it read, its parent would miss. It
    // may also have been forked while another thread held the lock.
    if (owner_ && owner_ != getpid()) return -1;
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
    return fd_ >= 0;
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
    // The watch goes on the very folder that is read, through its descriptor: the path may name
    // another folder by now. It is added before the read.
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat st;
    int wd = -1;
    if (fd >= 0 && fstat(fd, &st) == 0 && std::make_pair(st.st_dev, st.st_ino) == id)
      wd = inotify_add_watch(fd_, ("/proc/self/fd/" + std::to_string(fd)).c_str(), kEvents);
    int listed = wd < 0 ? -1 : fcntl(fd, F_DUPFD_CLOEXEC, 0);
    DIR* d = listed < 0 ? nullptr : fdopendir(listed);
    if (!d) {
      if (listed >= 0) close(listed);
      if (wd >= 0) inotify_rm_watch(fd_, wd);
      if (fd >= 0) close(fd);
      return nullptr;
    }
    Folder& folder = folders_[wd];
    folder = Folder();
    folder.id = id;
    folder.fd = fd;
    while (struct dirent* e = readdir(d)) {
      std::string entry = e->d_name;
      if (entry != "." && entry != "..") folder.names[Fold(entry)].insert(entry);
    }
    closedir(d);
    Drain();  // what changed while the folder was read
    return Known(id);
  }

  void Forget(int wd) {
    Drop(wd);
    inotify_rm_watch(fd_, wd);
  }

  void Drop(int wd) {
    auto it = folders_.find(wd);
    if (it == folders_.end()) return;
    close(it->second.fd);
    folders_.erase(it);
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
          Drop(e->wd);  // the kernel dropped the watch
          continue;
        }
        if (e->mask & IN_DELETE_SELF) {
          Forget(e->wd);  // let the removed folder's inode go
          continue;
        }
        // The event says which name changed; the folder says how it is now. Applying events as
        // such could lose a name: an exchanging rename reports its two names in either order.
        if (e->len) it->second.Recheck(e->name);  // zero-padded by the kernel
      }
    }
  }

  std::mutex mutex_;
  int fd_ = -2;  // not yet tried
  std::atomic<pid_t> owner_{0};
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
