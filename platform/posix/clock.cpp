/*
 * The system clock: real UTC, or the fixed time that machine.ini [clock] utc= sets, so that tests
 * can see times (in logs, reports, file stamps) they know in advance.
 */
#include <cstdio>
#include <ctime>

#include "platform/posix/machine.h"

namespace winsim {
namespace detail {

namespace {

constexpr uint64_t kTicksPerSecond = 10000000;
constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = (unsigned)(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + (int64_t)doe - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = (unsigned)(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = (int64_t)yoe + era * 400 + (*m <= 2);
}

// The fixed clock of the machine, when it has a valid one.
bool FixedClock(uint64_t* fileTime) {
  std::string text = Setting("clock", "utc", std::string());
  if (text.empty()) return false;
  int y, mo, d, h, mi, s, ms = 0, used = 0;
  int n = std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%n", &y, &mo, &d, &h, &mi, &s, &used);
  if (n != 6) return false;
  const char* rest = text.c_str() + used;
  if (*rest == '.') {
    int more = 0;
    if (std::sscanf(rest, ".%3d%n", &ms, &more) != 1) return false;
    rest += more;
  }
  if (*rest || y < 1601 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59 ||
      ms < 0 || h < 0 || mi < 0 || s < 0)
    return false;
  int64_t seconds = DaysFromCivil(y, (unsigned)mo, (unsigned)d) * 86400 + h * 3600 + mi * 60 + s;
  *fileTime = FileTimeFromUnix(seconds, ms * 1000000L);
  return true;
}

uint64_t Now() {
  uint64_t ft;
  if (FixedClock(&ft)) return ft;
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return FileTimeFromUnix(ts.tv_sec, ts.tv_nsec);
}

}  // namespace

uint64_t FileTimeFromUnix(int64_t seconds, long nanoseconds) {
  return (uint64_t)(seconds + kSecondsFrom1601To1970) * kTicksPerSecond +
         (uint64_t)(nanoseconds / 100);
}

void UnixFromFileTime(uint64_t fileTime, int64_t* seconds, long* nanoseconds) {
  *seconds = (int64_t)(fileTime / kTicksPerSecond) - kSecondsFrom1601To1970;
  *nanoseconds = (long)(fileTime % kTicksPerSecond) * 100;
}

}  // namespace detail
}  // namespace winsim

extern "C" void WINAPI GetSystemTimeAsFileTime(LPFILETIME time) {
  uint64_t now = winsim::detail::Now();
  time->dwLowDateTime = (DWORD)now;
  time->dwHighDateTime = (DWORD)(now >> 32);
}

extern "C" void WINAPI GetSystemTime(LPSYSTEMTIME time) {
  uint64_t now = winsim::detail::Now();
  uint64_t ms = now / 10000;
  int64_t days1601 = (int64_t)(ms / 86400000);
  uint64_t msOfDay = ms % 86400000;
  int64_t year;
  unsigned month, day;
  winsim::detail::CivilFromDays(days1601 - 134774, &year, &month, &day);  // 1601 -> 1970
  time->wYear = (WORD)year;
  time->wMonth = (WORD)month;
  time->wDay = (WORD)day;
  time->wDayOfWeek = (WORD)((days1601 + 1) % 7);  // 1601-01-01 was a Monday
  time->wHour = (WORD)(msOfDay / 3600000);
  time->wMinute = (WORD)(msOfDay / 60000 % 60);
  time->wSecond = (WORD)(msOfDay / 1000 % 60);
  time->wMilliseconds = (WORD)(msOfDay % 1000);
}
