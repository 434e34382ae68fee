// The only brand and code this project's programs ever send. Both programs offer these and
// nothing else, so a typo on a keyboard or in a script can never brand a device with the wrong
// text: the dialog lists them as its one brand and one code item, and brandcli sends them.
#pragma once

// The brand: 8 ASCII bytes, so the same bytes under every ANSI code page.
constexpr const char kBuiltInBrand[] = "VANDREL8";
// The code: two ASCII characters, the code frame's whole payload.
constexpr const char kBuiltInCode[] = "V3";
