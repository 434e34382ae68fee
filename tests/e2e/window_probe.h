// Shared between the window probe and the hook it loads into the program.
#pragma once

const wchar_t kWindowProbeSection[] = L"BrandWindowProbeSection";
const wchar_t kWindowProbeMessage[] = L"BrandWindowProbeMessage";
const size_t kWindowProbeChars = 16384;
