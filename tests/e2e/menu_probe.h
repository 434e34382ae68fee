// Shared between the system-menu probe and the hook it loads into the program.
#pragma once

const wchar_t kMenuProbeSection[] = L"BrandMenuProbeSection";
const wchar_t kMenuProbeMessage[] = L"BrandMenuProbeMessage";
const size_t kMenuProbeChars = 16384;
