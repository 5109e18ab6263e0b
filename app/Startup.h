// The steps of start-up that come before the main window: the English
// translation from the resources and the application font. GUI thread.
#pragma once

class QCoreApplication;
class QTranslator;

// Loads ":/Thermography/thermography_en.qm" into translator and installs it;
// false when the resource is missing or unreadable.
bool installEnglishTranslation(QCoreApplication& app, QTranslator& translator);
// Makes the program's font family the application font.
void applyApplicationFont();
