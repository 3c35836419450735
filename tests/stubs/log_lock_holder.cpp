// A log viewer's lock for tests: log_lock_holder FILE shared|exclusive RELEASE-FILE holds a
// byte-range lock over the whole of FILE from another process, prints "locked" once it
// holds it, and lets go when RELEASE-FILE exists.
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  const HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
  OVERLAPPED whole{};
  const DWORD mode = lstrcmpW(argv[2], L"exclusive") == 0 ? LOCKFILE_EXCLUSIVE_LOCK : 0;
  if (!LockFileEx(file, mode, 0, MAXDWORD, MAXDWORD, &whole)) return 1;
  std::puts("locked");
  std::fflush(stdout);
  while (GetFileAttributesW(argv[3]) == INVALID_FILE_ATTRIBUTES) Sleep(20);
  return 0;
}
