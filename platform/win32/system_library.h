// Functions of system DLLs looked up at run time, for what only some runs need: such a
// DLL is loaded from the system folder alone and stays loaded for the rest of the process.
#ifndef PLATFORM_WIN32_SYSTEM_LIBRARY_H
#define PLATFORM_WIN32_SYSTEM_LIBRARY_H

#include <windows.h>

#include "platform/platform.h"

namespace platform::win32 {

// The DLL of that name in the system folder, never one found anywhere else; null if absent.
// Loaded by its full path, which every Windows version takes: the loader's flag for the
// system folder alone needs Windows 8 or an update of Windows 7.
inline ModuleObject* LoadSystemLibrary(const wchar_t* name) noexcept {
  wchar_t path[MAX_PATH];
  const UINT folder = ::GetSystemDirectoryW(path, MAX_PATH);
  const size_t length = ::lstrlenW(name);
  if (folder == 0 || folder + 1 + length >= MAX_PATH) return nullptr;
  path[folder] = L'\\';
  ::lstrcpyW(path + folder + 1, name);
  // The DLL's own dependencies are looked for beside it first, not in the program's folder.
  return reinterpret_cast<ModuleObject*>(::LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

}  // namespace platform::win32

#endif
