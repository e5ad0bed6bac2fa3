/*
 * The share-mode ledger of this process (see share.h): the rules of Windows' share access check,
 * applied to every pair of opens of one file.
 */
#include "platform/posix/share.h"

#include <map>
#include <mutex>
#include <vector>

namespace winsim {
namespace detail {

namespace {

struct OpenEntry {
  ShareToken token;
  DataAccess access;
  DWORD share;
};

struct FileEntry {
  std::vector<OpenEntry> opens;
  unsigned mappings = 0;
};

struct Ledger {
  std::mutex lock;
  std::map<std::pair<dev_t, ino_t>, FileEntry> files;
  std::map<ShareToken, std::pair<dev_t, ino_t>> tokens;
  ShareToken next = 1;
};

Ledger& TheLedger() {
  static Ledger* ledger = new Ledger;  // outlives handles closed by other static destructors
  return *ledger;
}

std::pair<dev_t, ino_t> KeyOf(const FileKey& f) { return {f.dev, f.ino}; }

// Each side must allow what the other does.
bool Compatible(DataAccess a, DWORD aShare, DataAccess b, DWORD bShare) {
  if (a.read && !(bShare & FILE_SHARE_READ)) return false;
  if (a.write && !(bShare & FILE_SHARE_WRITE)) return false;
  if (a.del && !(bShare & FILE_SHARE_DELETE)) return false;
  if (b.read && !(aShare & FILE_SHARE_READ)) return false;
  if (b.write && !(aShare & FILE_SHARE_WRITE)) return false;
  if (b.del && !(aShare & FILE_SHARE_DELETE)) return false;
  return true;
}

void DropIfUnused(Ledger& ledger, std::map<std::pair<dev_t, ino_t>, FileEntry>::iterator it) {
  if (it->second.opens.empty() && it->second.mappings == 0) ledger.files.erase(it);
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

DWORD ShareOpen(const FileKey& file, DataAccess access, DWORD shareMode, ShareToken* token) {
  *token = 0;
  if (!access.Any()) return 0;
  Ledger& ledger = TheLedger();
  std::lock_guard<std::mutex> guard(ledger.lock);
  FileEntry& entry = ledger.files[KeyOf(file)];
  for (const OpenEntry& other : entry.opens)
    if (!Compatible(access, shareMode, other.access, other.share)) {
      DropIfUnused(ledger, ledger.files.find(KeyOf(file)));
      return ERROR_SHARING_VIOLATION;
    }
  *token = ledger.next++;
  entry.opens.push_back(OpenEntry{*token, access, shareMode});
  ledger.tokens[*token] = KeyOf(file);
  return 0;
}

void ShareClose(ShareToken token) {
  if (token == 0) return;
  Ledger& ledger = TheLedger();
  std::lock_guard<std::mutex> guard(ledger.lock);
  auto t = ledger.tokens.find(token);
  if (t == ledger.tokens.end()) return;
  auto f = ledger.files.find(t->second);
  ledger.tokens.erase(t);
  if (f == ledger.files.end()) return;
  auto& opens = f->second.opens;
  for (auto it = opens.begin(); it != opens.end(); ++it)
    if (it->token == token) {
      opens.erase(it);
      break;
    }
  DropIfUnused(ledger, f);
}

void ShareAddMapping(const FileKey& file) {
  Ledger& ledger = TheLedger();
  std::lock_guard<std::mutex> guard(ledger.lock);
  ledger.files[KeyOf(file)].mappings++;
}

void ShareRemoveMapping(const FileKey& file) {
  Ledger& ledger = TheLedger();
  std::lock_guard<std::mutex> guard(ledger.lock);
  auto f = ledger.files.find(KeyOf(file));
  if (f == ledger.files.end() || f->second.mappings == 0) return;
  f->second.mappings--;
  DropIfUnused(ledger, f);
}

bool ShareIsMapped(const FileKey& file) {
  Ledger& ledger = TheLedger();
  std::lock_guard<std::mutex> guard(ledger.lock);
  auto f = ledger.files.find(KeyOf(file));
  return f != ledger.files.end() && f->second.mappings > 0;
}

DWORD ShareDelete(const FileKey& file, const std::function<DWORD()>& remove) {
  Ledger& ledger = TheLedger();
  std::lock_guard<std::mutex> guard(ledger.lock);
  auto f = ledger.files.find(KeyOf(file));
  if (f != ledger.files.end()) {
    DataAccess del;
    del.del = true;
    for (const OpenEntry& other : f->second.opens)
      if (!Compatible(del, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, other.access,
                      other.share))
        return ERROR_SHARING_VIOLATION;
    // The delete open got through; the file system then refuses to delete a mapped file.
    if (f->second.mappings > 0) return ERROR_ACCESS_DENIED;
  }
  return remove();
}

}  // namespace detail
}  // namespace winsim
