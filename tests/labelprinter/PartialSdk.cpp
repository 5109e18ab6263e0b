// A printer SDK that lacks PTK_SetDarkness and accepts everything else:
// the library must treat the missing entry point as a failing step.

#define PARTIAL_SDK_API extern "C" __attribute__((visibility("default")))

PARTIAL_SDK_API int OpenPort(int)
{
    return 0;
}
PARTIAL_SDK_API int ClosePort()
{
    return 0;
}
PARTIAL_SDK_API int PTK_ClearBuffer()
{
    return 0;
}
PARTIAL_SDK_API int PTK_SetLabelHeight(int, int, int, int)
{
    return 0;
}
PARTIAL_SDK_API int PTK_SetLabelWidth(int)
{
    return 0;
}
PARTIAL_SDK_API int PTK_SetPrintSpeed(int)
{
    return 0;
}
PARTIAL_SDK_API int PTK_SetDirection(char)
{
    return 0;
}
PARTIAL_SDK_API int PTK_SetCoordinateOrigin(int, int)
{
    return 0;
}
PARTIAL_SDK_API int PTK_DrawBar2D_QREx(int, int, int, int, int, int, int, const char*, const char*)
{
    return 0;
}
PARTIAL_SDK_API int PTK_DrawText(int, int, int, int, int, int, char, const char*)
{
    return 0;
}
PARTIAL_SDK_API int PTK_PrintLabel(int, int)
{
    return 0;
}
