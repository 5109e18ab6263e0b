#include "app/Startup.h"

#include <QApplication>
#include <QFont>
#include <QTranslator>

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
