#include "app/Startup.h"

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QTranslator>

#ifdef __GLIBC__
#include <malloc.h>
#endif

bool prepareApplication(QApplication& app, QTranslator& translator)
{
    const bool translated = installEnglishTranslation(app, translator);
    applyApplicationFont();
    applyApplicationIcon();
    return translated;
}

bool installEnglishTranslation(QCoreApplication& app, QTranslator& translator)
{
    if (!translator.load(QStringLiteral(":/Thermography/thermography_en.qm")))
        return false;
    return app.installTranslator(&translator);
}

void applyApplicationFont()
{
    QFont font = QApplication::font();
    font.setFamily(QStringLiteral("Microsoft YaHei"));
    QApplication::setFont(font);
}

void applyApplicationIcon()
{
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/Thermography/Resources/ardenix.ico")));
    QGuiApplication::setDesktopFileName(QStringLiteral("ardenix"));
}

void limitAllocatorRetention()
{
#ifdef __GLIBC__
    // Blocks from 256 KiB up are mapped on their own and go back to the
    // system when freed. Left to itself the allocator raises that bound to
    // the largest block freed so far, after which every picture's buffers
    // come from heaps that keep their pages; each thread heap keeps its own.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    mallopt(M_TRIM_THRESHOLD, 1024 * 1024);
    mallopt(M_ARENA_MAX, 2);
#endif
}
