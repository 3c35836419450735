// The program's entry point, declared alike for both backends: on Windows the system's
// wWinMain; natively a plain function of the same shape that the whole-run tests call.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#define WINAPI
using HINSTANCE = void*;
using LPWSTR = char16_t*;
int wWinMain(HINSTANCE instance, HINSTANCE previousInstance, LPWSTR commandLine, int showCommand);
#endif
