// Entry points of the label printer vendor's SDK, which is loaded at run time
// by name, so callers resolve them through the pointer types below. Every
// function returns 0 on success.
#pragma once

#if defined(_WIN32)
#define CDFPSK_CALL __stdcall
#else
#define CDFPSK_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef int(CDFPSK_CALL* CdfpskOpenPort)(int port);
typedef int(CDFPSK_CALL* CdfpskClosePort)();
typedef int(CDFPSK_CALL* CdfpskClearBuffer)();
typedef int(CDFPSK_CALL* CdfpskSetLabelHeight)(int height, int gap, int offset, int mode);
typedef int(CDFPSK_CALL* CdfpskSetLabelWidth)(int width);
typedef int(CDFPSK_CALL* CdfpskSetDarkness)(int darkness);
typedef int(CDFPSK_CALL* CdfpskSetPrintSpeed)(int speed);
typedef int(CDFPSK_CALL* CdfpskSetDirection)(char direction);
typedef int(CDFPSK_CALL* CdfpskSetCoordinateOrigin)(int x, int y);
typedef int(CDFPSK_CALL* CdfpskDrawBar2DQREx)(
    int x, int y, int rotation, int cellSize, int level, int mask, int version, const char* name, const char* data);
typedef int(CDFPSK_CALL* CdfpskDrawText)(
    int x, int y, int direction, int font, int horizontal, int vertical, char mode, const char* text);
typedef int(CDFPSK_CALL* CdfpskPrintLabel)(int count, int copies);

#ifdef __cplusplus
}
#endif
