/* probe.exe [-t] STEP...: performs start-up steps of a plainrunctl run in the order given, so
   that each can be timed against the COM floor. Every DLL beyond kernel32 and advapi32 is
   loaded at run time, so that a step pays for the DLLs it needs and for nothing else. With
   -t, each step's own time is written to standard output as a "step microseconds" line.
   The exit code is the number of steps that failed.

   Steps:
     com        CoInitialize(NULL), and CoUninitialize() at exit
     shell32    load shell32.dll
     folder     SHGetSpecialFolderPathW(CSIDL_LOCAL_APPDATA, create), after shell32
     regread    open HKCU\SOFTWARE\Orvane\DERVO and read DisableOutlookConnector
     regwrite   create that key and write DisableOutlookConnector = 1
     snapshot   CreateToolhelp32Snapshot(all kinds) and a walk over its processes
     tracelib   load the installed tracelib.dll (by "Path"), start a log and write 6 lines;
                with -t also timed apart as tl-load, tl-init and tl-6lines */
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <stdio.h>
#include <string.h>
#include <tlhelp32.h>

typedef HRESULT(WINAPI* CoInitializeFn)(LPVOID);
typedef void(WINAPI* CoUninitializeFn)(void);
typedef BOOL(WINAPI* SHGetSpecialFolderPathWFn)(HWND, LPWSTR, int, BOOL);
typedef int (*LogInitializeFn)(const char*, const wchar_t*, int);
typedef int (*LogLineFn)(const char*, const wchar_t*);

static const wchar_t kKey[] = L"SOFTWARE\\Orvane\\DERVO";
static int g_timed;
static LARGE_INTEGER g_frequency;

static HMODULE System(const wchar_t* name) { return LoadLibraryExW(name, NULL, LOAD_LIBRARY_SEARCH_SYSTEM32); }

/* GetProcAddress's answer as a generic function pointer, so that no cast warns. */
static void (*Proc(HMODULE module, const char* name))(void) {
  return module ? (void (*)(void))(void*)GetProcAddress(module, name) : NULL;
}

static LONGLONG Now(void) {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

/* With -t, one "step microseconds" line on standard output. */
static void Report(const char* step, LONGLONG ticks) {
  if (!g_timed) return;
  char line[96];
  int length = snprintf(line, sizeof line, "%s %ld\n", step, (long)(ticks * 1000000 / g_frequency.QuadPart));
  DWORD written;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, (DWORD)length, &written, NULL);
}

static int Tracelib(void) {
  wchar_t library[MAX_PATH + 16] = L"", log[MAX_PATH + 16] = L"";
  DWORD size = MAX_PATH * sizeof(wchar_t);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kKey, L"Path", RRF_RT_REG_SZ, NULL, library, &size) != ERROR_SUCCESS ||
      GetEnvironmentVariableW(L"TEMP", log, MAX_PATH) == 0)
    return 0;
  lstrcatW(library, L"tracelib.dll");
  lstrcatW(log, L"\\probe.csv");
  LONGLONG start = Now();
  HMODULE module = LoadLibraryW(library);
  LONGLONG loaded = Now();
  LogInitializeFn initialize = (LogInitializeFn)Proc(module, "LogInitialize");
  LogLineFn information = (LogLineFn)Proc(module, "LogInformationW");
  if (!initialize || !information) return 0;
  initialize("probe", log, 10);
  LONGLONG opened = Now();
  for (int i = 0; i < 6; ++i) information("probe", L"probe a line of about the usual length, 60 characters");
  LONGLONG written = Now();
  FreeLibrary(module);
  Report("tl-load", loaded - start);
  Report("tl-init", opened - loaded);
  Report("tl-6lines", written - opened);
  return 1;
}

static int Snapshot(void) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPALL, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry = {.dwSize = sizeof entry};
  int count = 0;
  for (BOOL ok = Process32FirstW(snapshot, &entry); ok; ok = Process32NextW(snapshot, &entry)) ++count;
  CloseHandle(snapshot);
  return count > 0;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  (void)instance;
  (void)previous;
  (void)show;
  HMODULE shell32 = NULL;
  CoUninitializeFn uninitialize = NULL;
  int failed = 0;
  char steps[512];
  lstrcpynA(steps, commandLine, sizeof steps);
  QueryPerformanceFrequency(&g_frequency);
  for (char* step = strtok(steps, " "); step; step = strtok(NULL, " ")) {
    if (!strcmp(step, "-t")) {
      g_timed = 1;
      continue;
    }
    LONGLONG start = Now();
    HKEY key;
    DWORD value = 1, size = sizeof value;
    int ok = 0;
    if (!strcmp(step, "com")) {
      HMODULE ole32 = System(L"ole32.dll");
      CoInitializeFn initialize = (CoInitializeFn)Proc(ole32, "CoInitialize");
      uninitialize = (CoUninitializeFn)Proc(ole32, "CoUninitialize");
      ok = initialize && uninitialize && initialize(NULL) >= 0;
    } else if (!strcmp(step, "shell32")) {
      ok = (shell32 = System(L"shell32.dll")) != NULL;
    } else if (!strcmp(step, "folder")) {
      SHGetSpecialFolderPathWFn folder = (SHGetSpecialFolderPathWFn)Proc(shell32, "SHGetSpecialFolderPathW");
      wchar_t path[MAX_PATH];
      ok = folder && folder(NULL, path, CSIDL_LOCAL_APPDATA, TRUE);
    } else if (!strcmp(step, "regread")) {
      ok = RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) == ERROR_SUCCESS;
      if (ok) {
        (void)RegQueryValueExW(key, L"DisableOutlookConnector", NULL, NULL, (BYTE*)&value, &size);
        RegCloseKey(key);
      }
    } else if (!strcmp(step, "regwrite")) {
      ok =
          RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, NULL, 0, KEY_READ | KEY_WRITE, NULL, &key, NULL) == ERROR_SUCCESS;
      if (ok) {
        ok = RegSetValueExW(key, L"DisableOutlookConnector", 0, REG_DWORD, (const BYTE*)&value, size) == ERROR_SUCCESS;
        RegCloseKey(key);
      }
    } else if (!strcmp(step, "snapshot")) {
      ok = Snapshot();
    } else if (!strcmp(step, "tracelib")) {
      ok = Tracelib();
    }
    Report(step, Now() - start);
    failed += !ok;
  }
  if (uninitialize) uninitialize();
  return failed;
}
