#include "app/Startup.h"
#include "app/Thermography.h"

#include <QApplication>
#include <QTranslator>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QTranslator translator;
    installEnglishTranslation(app, translator);
    applyApplicationFont();

    Thermography window;
    window.show();
    return app.exec();
}
