#include "app/Startup.h"

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QTranslator>

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
