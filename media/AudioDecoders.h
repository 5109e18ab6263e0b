#pragma once
// The four audio decoder threads. Each emits frames whose payload is signed
// 16-bit little-endian mono: 8000 Hz for PCM, ADPCM and G.711, 32000 Hz for AAC.
// PCM frames pass through unchanged.

#include "media/FrameDecoder.h"

class PCMDecoder final : public FrameDecoder {
    Q_OBJECT

public:
    explicit PCMDecoder(QObject* parent = nullptr);
    ~PCMDecoder() override;

protected:
    void run() override;
};

class ADPCMDecoder final : public FrameDecoder {
    Q_OBJECT

public:
    explicit ADPCMDecoder(QObject* parent = nullptr);
    ~ADPCMDecoder() override;

protected:
    void run() override;
};

class AACDecoder final : public FrameDecoder {
    Q_OBJECT

public:
    explicit AACDecoder(QObject* parent = nullptr);
    ~AACDecoder() override;

protected:
    void run() override;
};

class G711Decoder final : public FrameDecoder {
    Q_OBJECT

public:
    explicit G711Decoder(QObject* parent = nullptr);
    ~G711Decoder() override;

protected:
    void run() override;
};
