/*
 * The Windows program's own allocation functions and the few library error paths its code can
 * reach, so that the C++ runtime's exception machinery (and the unwinder and thread library it
 * brings) stays out of the program users download. A failed allocation that the caller does not
 * test for, or a container asked for more than it can hold, ends the program as an uncaught
 * exception would.
 */
#include <cstdlib>
#include <new>

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size ? size : 1);  // every new gives a distinct address, even for 0 bytes
}
void* operator new[](std::size_t size, const std::nothrow_t& n) noexcept {
  return operator new(size, n);
}
void* operator new(std::size_t size) {
  void* p = operator new(size, std::nothrow);
  if (!p) std::abort();
  return p;
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace std {
void __throw_length_error(const char*) { std::abort(); }
void __throw_bad_alloc() { std::abort(); }
void __throw_bad_array_new_length() { std::abort(); }
}  // namespace std
