// Label printing for device labels: a QR code and up to four text lines laid
// out by a template kept in an INI file, printed through either the vendor
// label-printer SDK (port 255) or the TSC printer library.
//
// Threads: Init and Uninit are process-wide and must be called outside any
// printing; one CTagwright object is used by one thread at a time.
#pragma once

#if defined(_WIN32)
#if defined(TAGWRIGHT_BUILDING)
#define TAGWRIGHT_API __declspec(dllexport)
#else
#define TAGWRIGHT_API __declspec(dllimport)
#endif
#else
#define TAGWRIGHT_API __attribute__((visibility("default")))
#endif

namespace kvprint {

class TAGWRIGHT_API CTagwright {
public:
    // A text line without text of its own (the device number).
    struct _structTextItem {
        int x;
        int y;
        int direct; // rotation step
        int font;
        int horizontal; // vendor printer only
        int vertical; // vendor printer only
    };

    // A text line with its text, stored as UTF-8.
    struct _structValueItem {
        int x;
        int y;
        int direct;
        int font;
        int horizontal;
        int vertical;
        char value[128];
    };

    // The label template; every field is one INI entry.
    struct _sructPrinterConfig {
        int port; // 255: vendor SDK printer, anything else: TSC printer
        int height;
        int width;
        int gaph;
        int id; // darkness
        int px; // speed
        int direct;
        int movex;
        int movey;
        int QRx;
        int QRy;
        int QRo;
        int QRr;
        int BCx;
        int BCy;
        int BCo;
        int BCNarrowWidth;
        int BCHorizontal;
        int BCVertical;
        int BCtext;
        _structTextItem DeviceID;
        _structValueItem User;
        _structValueItem Pwd;
        _structValueItem Model;
    };

    // What changes from one label to the next.
    struct _structPrintParam {
        unsigned int deviceNumber;
        bool printModel;
        int count;
        int copies;
        char device[128];
        char pk[128];
        int qrMode; // 1: the QR code carries the update address
    };

    // Loads the vendor printer library. 0, -1 when already initialised,
    // -2 when the library cannot be loaded.
    static int Init();
    // 0, or -1 when not initialised.
    static int Uninit();

    // An empty path means "printer.ini" beside the executable. The template
    // is read from the file and written back, so missing keys get created.
    explicit CTagwright(const char* iniPath);
    ~CTagwright();
    CTagwright(const CTagwright&) = delete;
    CTagwright& operator=(const CTagwright&) = delete;

    // Both return 0, or -1 when not initialised. GetConfig re-reads the
    // file; SetConfig writes every entry, negative numbers as their 32-bit
    // two's complement. File errors are not reported.
    int GetConfig(_sructPrinterConfig& config);
    int SetConfig(const _sructPrinterConfig& config);

    // Prints one label with the template held in memory. 0 printed (TSC
    // printer: the port opened); -1 not initialised, TSC printer not opened
    // or texts with control characters, vendor label height; vendor printer:
    // -2 port, -3 darkness, -4 speed, -5 QR code, -6 device number, -7 User,
    // -8 Pwd, -9 Model, -10 print, -11 direction or origin, -12 clearing the
    // buffer or the label width.
    int Print(const _structPrintParam& param);

private:
    struct Private;
    Private* d;
};

} // namespace kvprint
