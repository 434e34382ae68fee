// The status field's three texts, as GBK (code page 936) bytes: the only messages the program
// shows. Written as escapes so the bytes do not depend on the compiler's source or execution
// character set.
#pragma once

// 端口关闭 — port closed
constexpr const char kStatusClosed[] = "\xB6\xCB\xBF\xDA\xB9\xD8\xB1\xD5";
// 端口%d打开 — port %d opened
constexpr const char kStatusOpened[] = "\xB6\xCB\xBF\xDA%d\xB4\xF2\xBF\xAA";
// 打开端口%d失败！ — opening port %d failed (full-width "！")
constexpr const char kStatusOpenFailed[] =
    "\xB4\xF2\xBF\xAA\xB6\xCB\xBF\xDA%d\xCA\xA7\xB0\xDC\xA3\xA1";
