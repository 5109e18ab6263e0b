#pragma once
// H.265 decoder with a C interface. One handle decodes one stream; it is used
// by one thread at a time. The planes of a decoded picture belong to the
// handle and stay valid until its next decode call or its deletion.

#include <cstdint>

#if defined(_WIN32)
#define MI_DECODER_API __declspec(dllexport)
#else
#define MI_DECODER_API __attribute__((visibility("default")))
#endif

extern "C" {

typedef void* mi_h265decoder_handle;

// { reserved, reserved, one picture per call (1) }
typedef struct mi_h265decoder_config {
    int32_t reserved0;
    int32_t reserved1;
    int32_t lowDelay;
} mi_h265decoder_config;

typedef struct mi_h265decoder_input {
    const uint8_t* data;
    int32_t size;
    int64_t timestamp;
} mi_h265decoder_input;

// Fourteen fields. The plane pointers are as wide as a pointer on the platform.
typedef struct mi_h265decoder_output {
    int32_t reserved0;
    int32_t frameIndex;
    int32_t reserved2;
    int32_t reserved3;
    int32_t reserved4;
    int32_t status; // 0: a picture was produced; set to 4 by the caller before the call
    int32_t width;
    int32_t height;
    uint8_t* planeY;
    uint8_t* planeU;
    uint8_t* planeV;
    int32_t strideY;
    int32_t strideU;
    int32_t strideV;
} mi_h265decoder_output;

// Return 0 on success, negative on failure.
MI_DECODER_API int mi_h265decoder_create(mi_h265decoder_handle* handle, const mi_h265decoder_config* config);
MI_DECODER_API int mi_h265decoder_decodeframe(
    mi_h265decoder_handle handle, const mi_h265decoder_input* input, mi_h265decoder_output* output);
MI_DECODER_API int mi_h265decoder_delete(mi_h265decoder_handle handle);
}
