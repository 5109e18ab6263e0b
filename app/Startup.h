// The steps of start-up that come before the main window: the allocator's
// limits, the English translation from the resources and the application
// font. GUI thread.
#pragma once

class QCoreApplication;
class QTranslator;

// Loads ":/Thermography/thermography_en.qm" into translator and installs it;
// false when the resource is missing or unreadable.
bool installEnglishTranslation(QCoreApplication& app, QTranslator& translator);
// Makes the program's font family the application font.
void applyApplicationFont();

// Keeps the C library's allocator from holding on to what the program
// frees: each alarm picture passes through buffers of several megabytes
// (the composite, its JPEG, decoded frames) on several threads. Call first
// in main, before any thread starts.
void limitAllocatorRetention();
