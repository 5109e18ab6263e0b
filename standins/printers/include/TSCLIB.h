// Entry points of the TSC printer library. Every function returns 1 on
// success; openport takes the printer's name.
#pragma once

#if defined(_WIN32)
#define TSCLIB_CALL __stdcall
#if defined(TSCLIB_BUILDING)
#define TSCLIB_API __declspec(dllexport)
#else
#define TSCLIB_API __declspec(dllimport)
#endif
#else
#define TSCLIB_CALL
#define TSCLIB_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

TSCLIB_API int TSCLIB_CALL openport(const char* printerName);
TSCLIB_API int TSCLIB_CALL sendcommand(const char* command);
TSCLIB_API int TSCLIB_CALL windowsfont(int x, int y, int fontHeight, int rotation, int fontStyle, int fontUnderline,
    const char* faceName, const char* content);
TSCLIB_API int TSCLIB_CALL printlabel(const char* sets, const char* copies);
TSCLIB_API int TSCLIB_CALL closeport();

#ifdef __cplusplus
}
#endif
