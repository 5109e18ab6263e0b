// The steps of start-up that come before the main window: the allocator's
// limits, the English translation from the resources, the application font
// and the program's icon. GUI thread.
#pragma once

class QApplication;
class QCoreApplication;
class QTranslator;

// All of the steps below, as the program takes them; false when the
// translation cannot be installed (the program runs on in Chinese).
bool prepareApplication(QApplication& app, QTranslator& translator);

// Loads ":/Thermography/thermography_en.qm" into translator and installs it;
// false when the resource is missing or unreadable.
bool installEnglishTranslation(QCoreApplication& app, QTranslator& translator);
// Makes the program's font family the application font.
void applyApplicationFont();
// Makes the program's icon the icon of every top-level window, dialogs and
// the picture viewer included, and names its desktop entry.
void applyApplicationIcon();

// Keeps the C library's allocator from holding on to what the program
// frees: each alarm picture passes through buffers of several megabytes
// (the composite, its JPEG, decoded frames) on several threads. Call first
// in main, before any thread starts.
void limitAllocatorRetention();
