/*
 * The program's resources. On Windows they are a section of the executable; here they are the
 * very .res image that windres compiles from resources/setup.rc, linked into the program by the
 * resources library, which defines winsim_ProgramResources. A program built without it has no
 * resources, as an executable without a resource section. Also the icons that LoadImageA makes.
 */
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/posix/machine.h"
#include "platform/posix/user_internal.h"

// The compiled resources of the program, where it links them in (weak: programs without them
// link too, and find none).
extern "C" const unsigned char* winsim_ProgramResources(size_t* size) __attribute__((weak));

using winsim::detail::Fail;

namespace {

// One resource of the .res image: its type and name (an id, or an upper-case string), its data.
struct Entry {
  bool typeIsId;
  WORD typeId;
  std::string typeName;
  bool nameIsId;
  WORD nameId;
  std::string nameText;
  const BYTE* data;
  DWORD size;
};

HMODULE const kProgram = reinterpret_cast<HMODULE>(0x400000);  // where Windows maps a program

DWORD Read32(const BYTE* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | ((DWORD)p[3] << 24); }
WORD Read16(const BYTE* p) { return (WORD)(p[0] | (p[1] << 8)); }

// An id or a string of the .res header at *at, within end; false when it runs past end.
bool ReadIdOrName(const BYTE*& at, const BYTE* end, bool* isId, WORD* id, std::string* name) {
  if (end - at < 2) return false;
  if (Read16(at) == 0xFFFF) {
    if (end - at < 4) return false;
    *isId = true;
    *id = Read16(at + 2);
    at += 4;
    return true;
  }
  *isId = false;
  name->clear();
  for (;;) {
    if (end - at < 2) return false;
    WORD c = Read16(at);
    at += 2;
    if (c == 0) return true;
    name->push_back(c < 0x100 ? (char)winsim::detail::FoldUpper1252((unsigned char)c) : '?');
  }
}

// The entries of the program's .res image, read once; a malformed image ends the list where
// it stops making sense rather than reading past it.
const std::vector<Entry>& Entries() {
  static std::once_flag once;
  static std::vector<Entry>* entries = new std::vector<Entry>;
  std::call_once(once, [] {
    if (!winsim_ProgramResources) return;
    size_t total = 0;
    const BYTE* base = winsim_ProgramResources(&total);
    const BYTE* at = base;
    const BYTE* end = base + total;
    while (end - at >= 8) {
      DWORD dataSize = Read32(at);
      DWORD headerSize = Read32(at + 4);
      if (headerSize < 8 || headerSize > (size_t)(end - at) ||
          dataSize > (size_t)(end - at) - headerSize)
        break;
      const BYTE* field = at + 8;
      const BYTE* headerEnd = at + headerSize;
      Entry e{};
      if (!ReadIdOrName(field, headerEnd, &e.typeIsId, &e.typeId, &e.typeName) ||
          !ReadIdOrName(field, headerEnd, &e.nameIsId, &e.nameId, &e.nameText))
        break;
      e.data = at + headerSize;
      e.size = dataSize;
      // The image opens with an empty entry of type 0, which names no resource.
      if (!(e.typeIsId && e.typeId == 0)) entries->push_back(e);
      size_t step = ((size_t)headerSize + dataSize + 3) & ~(size_t)3;
      if (step > (size_t)(end - at)) break;
      at += step;
    }
  });
  return *entries;
}

bool Matches(bool isId, WORD id, const std::string& text, LPCSTR wanted) {
  if (IS_INTRESOURCE(wanted)) return isId && id == (WORD)(ULONG_PTR)wanted;
  if (!wanted) return false;
  if (wanted[0] == '#') return isId && std::to_string(id) == wanted + 1;
  return !isId && winsim::detail::EqualNoCase(text, wanted);
}

const Entry* Lookup(HMODULE module, LPCSTR type, LPCSTR name) {
  if (module && module != kProgram) return Fail(ERROR_RESOURCE_DATA_NOT_FOUND, (Entry*)nullptr);
  bool typeSeen = false;
  for (const Entry& e : Entries()) {
    if (!Matches(e.typeIsId, e.typeId, e.typeName, type)) continue;
    typeSeen = true;
    if (Matches(e.nameIsId, e.nameId, e.nameText, name)) return &e;
  }
  return Fail(typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND,
              (Entry*)nullptr);
}

/* ---- Icons ---- */

struct Icon {
  int width;
  int height;
};

std::mutex g_iconLock;
std::map<HICON, Icon>* g_icons = new std::map<HICON, Icon>;
uintptr_t g_nextIcon = 0x20040;

// The image of an icon group (GRPICONDIR) that fits width by height best: the first entry of
// that size, else the largest; its RT_ICON id, or 0 when the group is malformed or empty.
WORD BestIconImage(const BYTE* group, DWORD size, int width, int height) {
  if (size < 6 || Read16(group + 2) != 1) return 0;
  WORD count = Read16(group + 4);
  if (size < 6 + 14u * count) return 0;
  WORD best = 0;
  int bestWidth = -1;
  for (WORD i = 0; i < count; ++i) {
    const BYTE* e = group + 6 + 14 * i;
    int w = e[0] ? e[0] : 256;
    int h = e[1] ? e[1] : 256;
    if (w == width && h == height) return Read16(e + 12);
    if (w > bestWidth) {
      bestWidth = w;
      best = Read16(e + 12);
    }
  }
  return best;
}

}  // namespace

namespace winsim {
namespace detail {

HMODULE ProgramModule() { return kProgram; }

const BYTE* FindProgramResource(HMODULE module, LPCSTR type, LPCSTR name, DWORD* size) {
  const Entry* e = Lookup(module ? module : kProgram, type, name);
  if (!e) return nullptr;
  if (size) *size = e->size;
  return e->data;
}

}  // namespace detail
}  // namespace winsim

extern "C" HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
  WINSIM_FAULT_POINT((HMODULE) nullptr, ERROR_ACCESS_DENIED);
  if (!name) return kProgram;
  // The host's system DLLs are always loaded; LoadLibraryA names them the same way.
  return winsim::detail::SystemModule(name);
}

extern "C" HRSRC WINAPI FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
  WINSIM_FAULT_POINT((HRSRC) nullptr, ERROR_ACCESS_DENIED);
  return (HRSRC)Lookup(module ? module : kProgram, type, name);
}

extern "C" HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC resource) {
  (void)module;
  if (!resource) return Fail(ERROR_INVALID_HANDLE, (HGLOBAL) nullptr);
  return (HGLOBAL) static_cast<const Entry*>(resource)->data;
}

extern "C" LPVOID WINAPI LockResource(HGLOBAL data) { return data; }

extern "C" DWORD WINAPI SizeofResource(HMODULE module, HRSRC resource) {
  (void)module;
  if (!resource) return Fail(ERROR_INVALID_HANDLE, 0u);
  return static_cast<const Entry*>(resource)->size;
}

extern "C" HANDLE WINAPI LoadImageA(HINSTANCE instance, LPCSTR name, UINT type, int cx, int cy,
                                    UINT flags) {
  WINSIM_FAULT_POINT((HANDLE) nullptr, ERROR_RESOURCE_NAME_NOT_FOUND, ERROR_ACCESS_DENIED);
  (void)flags;  // colours are not drawn on the host
  if (type != IMAGE_ICON) return Fail(ERROR_INVALID_PARAMETER, (HANDLE) nullptr);
  // A null instance asks for the system's own images, which the host does not have.
  if (!instance) return Fail(ERROR_RESOURCE_DATA_NOT_FOUND, (HANDLE) nullptr);
  DWORD groupSize = 0;
  const BYTE* group =
      winsim::detail::FindProgramResource(instance, RT_GROUP_ICON, name, &groupSize);
  if (!group) return nullptr;
  WORD imageId = BestIconImage(group, groupSize, cx, cy);
  DWORD imageSize = 0;
  const BYTE* image = imageId ? winsim::detail::FindProgramResource(
                                    instance, RT_ICON, MAKEINTRESOURCEA(imageId), &imageSize)
                              : nullptr;
  // The image must be a DIB whose height covers the colours and the mask.
  if (!image || imageSize < 40 || Read32(image) != 40)
    return Fail(ERROR_RESOURCE_DATA_NOT_FOUND, (HANDLE) nullptr);
  Icon icon{cx ? cx : (int)Read32(image + 4), cy ? cy : (int)Read32(image + 8) / 2};
  std::lock_guard<std::mutex> guard(g_iconLock);
  HICON handle = reinterpret_cast<HICON>(g_nextIcon);
  g_nextIcon += 4;
  (*g_icons)[handle] = icon;
  return handle;
}
