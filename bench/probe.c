/* probe.exe STEP...: performs chosen start-up steps of a plainrunctl run, in the order
   given, so that each step can be timed on its own against the floors. Every DLL beyond
   kernel32 is loaded here at run time, so `probe.exe` with no step costs what the empty
   program costs. The exit code is the number of steps that failed. With -t first, each
   step's own time in microseconds is written to standard output, one "step time" line
   each, so steps can also be timed without the noise of starting a process, framed by
   "main-entered" and "since-create": the process's life when WinMain began and when it
   ended, its loading included.

   Steps:
     ole32      load ole32.dll only
     com        CoInitialize(NULL) and, at exit, CoUninitialize()
     oleaut32   load oleaut32.dll          user32   load user32.dll
     shell32    load shell32.dll           shcore   load shcore.dll
     argv       CommandLineToArgvW from the first of shcore/shell32 already loaded
     folder     SHGetSpecialFolderPathW(CSIDL_LOCAL_APPDATA, create) from shell32
     folders    the folder checks a run makes: whether each folder on the way to the log
                folder exists, as PathFileExistsW asks (process error mode, attributes)
     tfolders   the same with the thread's error mode instead of the process's
     regread    open HKCU\SOFTWARE\Orvane\DERVO and read DisableOutlookConnector
     regwrite   create that key and write DisableOutlookConnector = 1
     snapshot   CreateToolhelp32Snapshot(all kinds, this process) and walk its processes
     snapprocs  the same with processes only
     snap=N     the same with the kinds N (1 heaps, 2 processes, 4 threads, 8 modules)
     tracelib   load the installed tracelib.dll (by "Path"), start the log, write 6 lines
                (with -t also timed apart: tl-load, tl-init and tl-6lines)
     dom        create the system DOM document (CoCreateInstance), then release it */
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <stdlib.h>
#include <string.h>
#include <tlhelp32.h>

typedef HRESULT(WINAPI* CoInitializeFn)(LPVOID);
typedef void(WINAPI* CoUninitializeFn)(void);
typedef HRESULT(WINAPI* CoCreateInstanceFn)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*);
typedef LPWSTR*(WINAPI* CommandLineToArgvWFn)(LPCWSTR, int*);
typedef BOOL(WINAPI* SHGetSpecialFolderPathWFn)(HWND, LPWSTR, int, BOOL);
typedef int (*LogInitializeFn)(const char*, const wchar_t*, int);
typedef int (*LogLineFn)(const char*, const wchar_t*);

static HMODULE System(const wchar_t* name) { return LoadLibraryExW(name, NULL, LOAD_LIBRARY_SEARCH_SYSTEM32); }

/* GetProcAddress's answer as a generic function pointer, so that no cast warns. */
static void (*Proc(HMODULE module, const char* name))(void) {
  return module ? (void (*)(void))(void*)GetProcAddress(module, name) : NULL;
}

static void Report(const char* step, LONGLONG ticks, LONGLONG frequency);

static const wchar_t kKey[] = L"SOFTWARE\\Orvane\\DERVO";

static int Tracelib(void) {
  wchar_t folder[MAX_PATH] = L"";
  DWORD size = sizeof folder - sizeof(wchar_t);
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  LSTATUS status = RegQueryValueExW(key, L"Path", NULL, NULL, (BYTE*)folder, &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return 0;
  wchar_t library[MAX_PATH + 16];
  lstrcpyW(library, folder);
  lstrcatW(library, L"tracelib.dll");
  LARGE_INTEGER f, t0, t1, t2, t3;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&t0);
  HMODULE module = LoadLibraryW(library);
  QueryPerformanceCounter(&t1);
  LogInitializeFn initialize = (LogInitializeFn)Proc(module, "LogInitialize");
  LogLineFn information = (LogLineFn)Proc(module, "LogInformationW");
  if (!initialize || !information) return 0;
  wchar_t log[MAX_PATH + 32] = L"";
  if (GetEnvironmentVariableW(L"TEMP", log, MAX_PATH) == 0) return 0;
  lstrcatW(log, L"\\probe.csv");
  initialize("probe", log, 10);
  QueryPerformanceCounter(&t2);
  for (int i = 0; i < 6; ++i) information("probe", L"probe a line of about the usual length, 60 characters");
  QueryPerformanceCounter(&t3);
  FreeLibrary(module);
  Report("tl-load", t1.QuadPart - t0.QuadPart, f.QuadPart);
  Report("tl-init", t2.QuadPart - t1.QuadPart, f.QuadPart);
  Report("tl-6lines", t3.QuadPart - t2.QuadPart, f.QuadPart);
  return 1;
}

/* Whether each folder on the way to C:\users\...\Orvane\Keelstore\DebugLogs exists, twice
   over as a run checks it; the error mode is set around each check as the shell does. */
static int Folders(int threadMode) {
  wchar_t path[MAX_PATH + 64];
  DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 0;
  lstrcatW(path, L"\\Orvane\\Keelstore\\DebugLogs\\");
  int checked = 0;
  for (int pass = 0; pass < 2; ++pass) {
    for (wchar_t* slash = wcschr(path + 3, L'\\'); slash; slash = wcschr(slash + 1, L'\\')) {
      *slash = 0;
      DWORD old = 0;
      if (threadMode) {
        SetThreadErrorMode(SEM_FAILCRITICALERRORS, &old);
      } else {
        old = SetErrorMode(SEM_FAILCRITICALERRORS);
      }
      (void)GetFileAttributesW(path);
      if (threadMode) {
        SetThreadErrorMode(old, NULL);
      } else {
        SetErrorMode(old);
      }
      *slash = L'\\';
      ++checked;
    }
  }
  return checked > 0;
}

static int Snapshot(DWORD kinds) {
  HANDLE snapshot = CreateToolhelp32Snapshot(kinds, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL ok = Process32FirstW(snapshot, &entry); ok; ok = Process32NextW(snapshot, &entry)) ++count;
  CloseHandle(snapshot);
  return count > 0;
}

static int Dom(HMODULE ole32) {
  static const CLSID kDocument = {0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
  static const IID kUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
  CoCreateInstanceFn create = (CoCreateInstanceFn)Proc(ole32, "CoCreateInstance");
  IUnknown* unknown = NULL;
  if (!create || create(&kDocument, NULL, CLSCTX_ALL, &kUnknown, (void**)&unknown) < 0) return 0;
  unknown->lpVtbl->Release(unknown);
  return 1;
}

/* One "step microseconds" line on standard output. */
static void Report(const char* step, LONGLONG ticks, LONGLONG frequency) {
  char line[96], digits[24];
  LONGLONG micros = ticks * 1000000 / frequency;
  int n = 0;
  do {
    digits[n++] = (char)('0' + micros % 10);
    micros /= 10;
  } while (micros > 0 && n < (int)sizeof digits);
  int length = 0;
  while (*step && length < 64) line[length++] = *step++;
  line[length++] = ' ';
  while (n > 0) line[length++] = digits[--n];
  line[length++] = '\n';
  DWORD written;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, (DWORD)length, &written, NULL);
}

/* The process's life so far, from its creation (so including the loader), as a step. */
static void ReportLife(const char* step) {
  FILETIME created, exited, kernel, user, now;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER a, b;
  a.LowPart = created.dwLowDateTime, a.HighPart = created.dwHighDateTime;
  b.LowPart = now.dwLowDateTime, b.HighPart = now.dwHighDateTime;
  Report(step, (LONGLONG)(b.QuadPart - a.QuadPart), 10000000);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  (void)instance;
  (void)previous;
  (void)show;
  HMODULE ole32 = NULL, shell32 = NULL, shcore = NULL;
  CoUninitializeFn uninitialize = NULL;
  int failed = 0;
  char steps[512];
  lstrcpynA(steps, commandLine, sizeof steps);
  LARGE_INTEGER frequency, before, after;
  QueryPerformanceFrequency(&frequency);
  int timed = 0;
  for (char* step = strtok(steps, " "); step; step = strtok(NULL, " ")) {
    int ok = 1;
    if (!strcmp(step, "-t")) {
      timed = 1;
      ReportLife("main-entered");
      continue;
    }
    QueryPerformanceCounter(&before);
    if (!strcmp(step, "ole32")) {
      ok = (ole32 = System(L"ole32.dll")) != NULL;
    } else if (!strcmp(step, "com")) {
      if (!ole32) ole32 = System(L"ole32.dll");
      CoInitializeFn initialize = (CoInitializeFn)Proc(ole32, "CoInitialize");
      uninitialize = (CoUninitializeFn)Proc(ole32, "CoUninitialize");
      ok = initialize && uninitialize && initialize(NULL) >= 0;
    } else if (!strcmp(step, "oleaut32")) {
      ok = System(L"oleaut32.dll") != NULL;
    } else if (!strcmp(step, "user32")) {
      ok = System(L"user32.dll") != NULL;
    } else if (!strcmp(step, "shell32")) {
      ok = (shell32 = System(L"shell32.dll")) != NULL;
    } else if (!strcmp(step, "shcore")) {
      ok = (shcore = System(L"shcore.dll")) != NULL;
    } else if (!strcmp(step, "argv")) {
      CommandLineToArgvWFn split = (CommandLineToArgvWFn)Proc(shcore ? shcore : shell32, "CommandLineToArgvW");
      int count = 0;
      LPWSTR* argv = split ? split(GetCommandLineW(), &count) : NULL;
      ok = argv != NULL && count > 1;
      LocalFree(argv);
    } else if (!strcmp(step, "folder")) {
      SHGetSpecialFolderPathWFn folder = (SHGetSpecialFolderPathWFn)Proc(shell32, "SHGetSpecialFolderPathW");
      wchar_t path[MAX_PATH];
      ok = folder && folder(NULL, path, CSIDL_LOCAL_APPDATA, TRUE);
    } else if (!strcmp(step, "folders")) {
      ok = Folders(0);
    } else if (!strcmp(step, "tfolders")) {
      ok = Folders(1);
    } else if (!strcmp(step, "regread")) {
      HKEY key;
      DWORD value = 0, size = sizeof value;
      ok = RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) == ERROR_SUCCESS;
      if (ok) {
        (void)RegQueryValueExW(key, L"DisableOutlookConnector", NULL, NULL, (BYTE*)&value, &size);
        RegCloseKey(key);
      }
    } else if (!strcmp(step, "regwrite")) {
      HKEY key;
      DWORD value = 1;
      ok =
          RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, NULL, 0, KEY_READ | KEY_WRITE, NULL, &key, NULL) == ERROR_SUCCESS;
      if (ok) {
        ok = RegSetValueExW(key, L"DisableOutlookConnector", 0, REG_DWORD, (const BYTE*)&value, sizeof value) ==
             ERROR_SUCCESS;
        RegCloseKey(key);
      }
    } else if (!strcmp(step, "snapshot")) {
      ok = Snapshot(TH32CS_SNAPALL);
    } else if (!strcmp(step, "snapprocs")) {
      ok = Snapshot(TH32CS_SNAPPROCESS);
    } else if (!strncmp(step, "snap=", 5)) {
      ok = Snapshot((DWORD)strtoul(step + 5, NULL, 0));
    } else if (!strcmp(step, "tracelib")) {
      ok = Tracelib();
    } else if (!strcmp(step, "dom")) {
      ok = Dom(ole32);
    } else {
      ok = 0;
    }
    QueryPerformanceCounter(&after);
    failed += !ok;
    if (timed) Report(step, after.QuadPart - before.QuadPart, frequency.QuadPart);
  }
  QueryPerformanceCounter(&before);
  if (uninitialize) uninitialize();
  QueryPerformanceCounter(&after);
  if (timed && uninitialize) Report("uncom", after.QuadPart - before.QuadPart, frequency.QuadPart);
  if (timed) ReportLife("since-create");
  return failed;
}
