// Finds cameras on the local network. Start() sends a probe to every target
// of $KVSDK_SEARCH_TARGETS (comma-separated host[:port], default 127.0.0.1,
// UDP port 8801 where none is given; it never broadcasts unless a target is a
// broadcast address), collects answers for $KVSDK_SEARCH_WINDOW_MS (default
// 1500) on a thread of its own and calls the hooks there: OnSearchStarted,
// OnDeviceFound once per answer, OnSearchFinished.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// The record a camera answers a search with, byte for byte as it travels.
struct CamSearchRecord {
    char deviceName[128]; // offset 0
    char ipAddress[32]; // offset 128
    char macAddress[32]; // offset 160
    char serialNumber[32]; // offset 192
    int32_t port; // offset 224
    int32_t capability[5]; // offsets 228 to 244
    int32_t deviceNumber; // offset 248
    char userName[128]; // offset 252
    char password[128]; // offset 380
    char reserved[4]; // offset 508
};
static_assert(offsetof(CamSearchRecord, port) == 224, "record layout");
static_assert(offsetof(CamSearchRecord, deviceNumber) == 248, "record layout");
static_assert(offsetof(CamSearchRecord, password) == 380, "record layout");
static_assert(sizeof(CamSearchRecord) == 512, "record layout");

class CamSearch {
public:
    CamSearch();
    virtual ~CamSearch();
    CamSearch(const CamSearch&) = delete;
    CamSearch& operator=(const CamSearch&) = delete;

    // False when a search is already running or no target could be used.
    bool Start();
    // Waits until a running search has called its last hook. A derived class
    // calls this in its destructor, while its hooks can still run. Called
    // from a hook, it returns at once (and Start() there returns false).
    void Wait();
    bool IsSearching() const;

    // The hooks; the base versions do nothing.
    virtual void OnSearchStarted();
    // `record` lives only during the call.
    virtual void OnDeviceFound(const CamSearchRecord* record);
    virtual void OnSearchFinished();

private:
    struct Private;
    std::unique_ptr<Private> d;
};
