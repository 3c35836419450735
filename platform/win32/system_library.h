// Functions of system DLLs looked up at run time, for what only some runs need: such a
// DLL is loaded from the system folder alone and stays loaded for the rest of the process.
#ifndef PLATFORM_WIN32_SYSTEM_LIBRARY_H
#define PLATFORM_WIN32_SYSTEM_LIBRARY_H

#include <windows.h>

namespace platform::win32 {

// The DLL of that name in the system folder, never one found anywhere else; null if absent.
inline HMODULE LoadSystemLibrary(const wchar_t* name) noexcept {
  return ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// The function `name` of module as the type Fn; null when the module or function is missing.
template <typename Fn>
Fn Lookup(HMODULE module, const char* name) noexcept {
  if (!module) return nullptr;
  // Through the generic function pointer type, so that the cast says what it means.
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

}  // namespace platform::win32

#endif
