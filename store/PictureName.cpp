#include "store/PictureName.h"

#include <QStringList>

namespace {
const int kFieldCount = 5;
}

PictureName PictureName::parse(const QString& filePath)
{
    PictureName name;
    if (filePath.isEmpty())
        return name;
    const QString fileName = filePath.mid(filePath.lastIndexOf(QLatin1Char('/')) + 1);
    const QStringList fields = fileName.split(QLatin1Char('-'));
    if (fields.size() != kFieldCount)
        return name;
    name.valid = true;
    name.camera = fields.at(0);
    name.temperature = fields.at(1);
    name.stamp = fields.at(2);
    name.state = fields.at(3);
    name.unit = fields.at(4);
    return name;
}

double PictureName::celsius() const
{
    return temperature.toDouble() / 10.0;
}

int PictureName::stateCode() const
{
    return state.toInt(nullptr, 10);
}

int PictureName::unitDigit() const
{
    return unit.isEmpty() ? 0 : QString(unit.at(0)).toInt();
}

QString PictureName::day() const
{
    if (!hasStamp())
        return QString();
    return QStringLiteral("%1-%2-%3").arg(stamp.mid(0, 4), stamp.mid(4, 2), stamp.mid(6, 2));
}

QString PictureName::dateTime() const
{
    if (!hasStamp())
        return QString();
    return QStringLiteral("%1-%2-%3 %4:%5:%6")
        .arg(stamp.mid(0, 4), stamp.mid(4, 2), stamp.mid(6, 2), stamp.mid(8, 2), stamp.mid(10, 2), stamp.mid(12, 2));
}
