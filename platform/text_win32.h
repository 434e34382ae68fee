// The program's texts are GBK bytes (code page 936). Every text that reaches a window goes
// through these two conversions, so Chinese reads correctly on a Western system too, where the
// ANSI code page (1252) would turn the same bytes into garbage.
#pragma once

#include <string>

#include "platform/CString.h"

constexpr UINT kProgramCodePage = 936;

std::wstring ToWide(const char* text);
CString FromWide(const wchar_t* text);
