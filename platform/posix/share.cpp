/*
 * The share-mode ledger (see share.h), kept by the kernel for every process of the machine.
 *
 * Each file that is open with data access gets a lock file state/share/DEV-INO. Every open
 * holds its own descriptor of that lock file with shared byte-range locks (open file
 * description locks) on marker bytes: one per kind of access it has, one per kind of sharing it
 * refuses, and one for a live mapping. A newcomer asks the kernel whether anybody holds the
 * markers that would refuse it, under an exclusive flock of the lock file so that the question
 * and the taking of its own markers are one step across processes. A process that ends, however
 * it ends, drops its markers with its descriptors: no entry outlives its holder.
 */
#include "platform/posix/share.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/posix/machine.h"

namespace winsim {
namespace detail {

namespace {

// Marker bytes, far beyond any offset a lock file's (empty) data could reach.
constexpr off_t kMarkerBase = (off_t)1 << 40;
enum Marker { kHasRead, kHasWrite, kHasDelete, kDeniesRead, kDeniesWrite, kDeniesDelete, kMapped };

struct Holders {
  std::mutex lock;
  std::map<ShareToken, int> opens;  // token -> descriptor with its markers
  std::map<std::pair<dev_t, ino_t>, std::vector<int>> mappings;  // one descriptor per mapping
  ShareToken next = 1;
};

Holders& TheHolders() {
  static Holders* holders = new Holders;  // outlives handles closed by other static destructors
  return *holders;
}

// The folder of the ledger's lock files.
std::string ShareDir() {
  std::string dir = StateDir();
  if (dir.empty()) dir = "/tmp/winsim-nomachine-" + std::to_string(getuid());
  mkdir(dir.c_str(), 0755);
  dir += "/share";
  mkdir(dir.c_str(), 0755);
  return dir;
}

std::string LockFileOf(const FileKey& file) {
  std::string dir = ShareDir();
  char name[64];
  std::snprintf(name, sizeof name, "/%llx-%llx", (unsigned long long)file.dev,
                (unsigned long long)file.ino);
  return dir + name;
}

int OpenLockFile(const FileKey& file) {
  return open(LockFileOf(file).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
}

// Serialises the checks and takings of all processes for one file; released by closing fd.
int OpenGuarded(const FileKey& file) {
  int fd = OpenLockFile(file);
  if (fd < 0) return -1;
  while (flock(fd, LOCK_EX) != 0)
    if (errno != EINTR) {
      close(fd);
      return -1;
    }
  return fd;
}

// Whether any descriptor other than the asking one holds the marker.
bool Held(int askingFd, Marker marker) {
  struct flock fl = {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = kMarkerBase + marker;
  fl.l_len = 1;
  if (fcntl(askingFd, F_OFD_GETLK, &fl) != 0) return false;
  return fl.l_type != F_UNLCK;
}

bool Take(int fd, Marker marker) {
  struct flock fl = {};
  fl.l_type = F_RDLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = kMarkerBase + marker;
  fl.l_len = 1;
  return fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

}  // namespace

DataAccess DataAccessOf(DWORD desired) {
  DataAccess a;
  a.read = (desired &
            (GENERIC_READ | GENERIC_EXECUTE | GENERIC_ALL | kFileReadData | kFileExecute)) != 0;
  a.write = (desired & (GENERIC_WRITE | GENERIC_ALL | kFileWriteData | kFileAppendData)) != 0;
  a.del = (desired & (DELETE | GENERIC_ALL)) != 0;
  return a;
}

CreationLock::CreationLock(bool creating) {
  fd_ = open((ShareDir() + "/.creations").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ >= 0)
    while (flock(fd_, creating ? LOCK_EX : LOCK_SH) != 0 && errno == EINTR) {
    }
}

CreationLock::~CreationLock() {
  if (fd_ >= 0) close(fd_);
}

DWORD ShareOpen(const FileKey& file, DataAccess access, DWORD shareMode, ShareToken* token) {
  *token = 0;
  if (!access.Any()) return 0;
  int guard = OpenGuarded(file);
  if (guard < 0) return ErrorFromErrno(errno);
  // Each side must allow what the other does.
  bool refused = (access.read && Held(guard, kDeniesRead)) ||
                 (access.write && Held(guard, kDeniesWrite)) ||
                 (access.del && Held(guard, kDeniesDelete)) ||
                 (!(shareMode & FILE_SHARE_READ) && Held(guard, kHasRead)) ||
                 (!(shareMode & FILE_SHARE_WRITE) && Held(guard, kHasWrite)) ||
                 (!(shareMode & FILE_SHARE_DELETE) && Held(guard, kHasDelete));
  if (refused) {
    close(guard);
    return ERROR_SHARING_VIOLATION;
  }
  int holder = OpenLockFile(file);
  bool ok = holder >= 0;
  if (ok && access.read) ok = Take(holder, kHasRead);
  if (ok && access.write) ok = Take(holder, kHasWrite);
  if (ok && access.del) ok = Take(holder, kHasDelete);
  if (ok && !(shareMode & FILE_SHARE_READ)) ok = Take(holder, kDeniesRead);
  if (ok && !(shareMode & FILE_SHARE_WRITE)) ok = Take(holder, kDeniesWrite);
  if (ok && !(shareMode & FILE_SHARE_DELETE)) ok = Take(holder, kDeniesDelete);
  DWORD err = ok ? 0 : ErrorFromErrno(errno, ERROR_TOO_MANY_OPEN_FILES);
  close(guard);
  if (!ok) {
    if (holder >= 0) close(holder);
    return err;
  }
  Holders& holders = TheHolders();
  std::lock_guard<std::mutex> lock(holders.lock);
  *token = holders.next++;
  holders.opens[*token] = holder;
  return 0;
}

void ShareClose(ShareToken token) {
  if (token == 0) return;
  int fd = -1;
  {
    Holders& holders = TheHolders();
    std::lock_guard<std::mutex> lock(holders.lock);
    auto it = holders.opens.find(token);
    if (it == holders.opens.end()) return;
    fd = it->second;
    holders.opens.erase(it);
  }
  close(fd);
}

void ShareAddMapping(const FileKey& file) {
  int fd = OpenLockFile(file);
  if (fd < 0 || !Take(fd, kMapped)) {
    if (fd >= 0) close(fd);
    return;  // the mapping still works; only its protection against deletion is lost
  }
  Holders& holders = TheHolders();
  std::lock_guard<std::mutex> lock(holders.lock);
  holders.mappings[{file.dev, file.ino}].push_back(fd);
}

void ShareRemoveMapping(const FileKey& file) {
  int fd = -1;
  {
    Holders& holders = TheHolders();
    std::lock_guard<std::mutex> lock(holders.lock);
    auto it = holders.mappings.find({file.dev, file.ino});
    if (it == holders.mappings.end() || it->second.empty()) return;
    fd = it->second.back();
    it->second.pop_back();
    if (it->second.empty()) holders.mappings.erase(it);
  }
  close(fd);
}

bool ShareIsMapped(const FileKey& file) {
  int fd = OpenLockFile(file);
  if (fd < 0) return false;
  bool mapped = Held(fd, kMapped);
  close(fd);
  return mapped;
}

DWORD ShareDelete(const FileKey& file, const std::function<DWORD()>& remove) {
  int guard = OpenGuarded(file);
  if (guard < 0) return remove();
  DWORD err;
  if (Held(guard, kDeniesDelete))
    err = ERROR_SHARING_VIOLATION;
  else if (Held(guard, kMapped))  // the delete open got through; a mapped file is not deleted
    err = ERROR_ACCESS_DENIED;
  else
    err = remove();
  close(guard);
  return err;
}

}  // namespace detail
}  // namespace winsim
