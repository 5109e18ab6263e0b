#include "app/CommandLine.h"

#include <QRegularExpression>

namespace {

// The camera's own limits for user names and passwords, as the add-device
// dialog enforces them.
constexpr int kMaxAccountLength = 29;

bool validAccountText(const QString& text)
{
    if (text.size() > kMaxAccountLength)
        return false;
    for (const QChar c : text) {
        if (c.isSpace() || (c.unicode() >= 0x04BB && c.unicode() <= 0xFFFD) || c.unicode() < 0x20)
            return false;
    }
    return true;
}

// Dotted-quad IPv4, each part 0-255 without leading zeros; the canonical
// text in normalized.
bool parseIPv4(const QString& text, QString& normalized)
{
    static const QRegularExpression form(QStringLiteral("^(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return false;
    QStringList parts;
    for (int i = 1; i <= 4; ++i) {
        const QString part = match.captured(i);
        const int value = part.toInt();
        if (value > 255 || (part.size() > 1 && part.startsWith(QLatin1Char('0'))))
            return false;
        parts << QString::number(value);
    }
    normalized = parts.join(QLatin1Char('.'));
    return true;
}

} // namespace

QString CommandLine::usage()
{
    return QStringLiteral("Usage: ardenix [--connect ADDRESS [--id N] [--user NAME] [--password TEXT]]\n"
                          "\n"
                          "Without options the window opens and cameras are added from it.\n"
                          "  --connect ADDRESS  log in to the camera at this IPv4 address (port 8800)\n"
                          "                     once the window is shown, as the add-device dialog would\n"
                          "  --id N             its device number, when the LAN search cannot reach it\n"
                          "                     (default: the number the search reports for ADDRESS)\n"
                          "  --user NAME        user name when no account is saved for the camera\n"
                          "                     (default admin)\n"
                          "  --password TEXT    password when no account is saved (default empty)\n"
                          "  --help             print this text\n");
}

bool CommandLine::parse(const QStringList& arguments, CommandLine& out, QString& error)
{
    out = CommandLine();
    bool hasId = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            out.help = true;
            continue;
        }
        const bool takesValue = argument == QLatin1String("--connect") || argument == QLatin1String("--id")
            || argument == QLatin1String("--user") || argument == QLatin1String("--password");
        if (!takesValue) {
            if (argument.startsWith(QLatin1String("--")) || !argument.startsWith(QLatin1Char('-'))) {
                error = QStringLiteral("unknown option or argument: %1").arg(argument);
                return false;
            }
            continue; // one dash: Qt's own (e.g. -platform offscreen), with its value
        }
        if (i + 1 >= arguments.size()) {
            error = QStringLiteral("%1 needs a value").arg(argument);
            return false;
        }
        const QString value = arguments.at(++i);
        if (argument == QLatin1String("--connect")) {
            if (!parseIPv4(value, out.address)) {
                error = QStringLiteral("--connect: not an IPv4 address: %1").arg(value);
                return false;
            }
            out.connect = true;
        } else if (argument == QLatin1String("--id")) {
            bool ok = false;
            const int id = value.toInt(&ok, 10);
            if (!ok || id <= 0) {
                error = QStringLiteral("--id: not a positive device number: %1").arg(value);
                return false;
            }
            out.id = id;
            hasId = true;
        } else if (argument == QLatin1String("--user")) {
            if (value.isEmpty() || !validAccountText(value)) {
                error = QStringLiteral("--user: at most %1 characters, no spaces").arg(kMaxAccountLength);
                return false;
            }
            out.hasUser = true;
            out.user = value;
        } else {
            if (!validAccountText(value)) {
                error = QStringLiteral("--password: at most %1 characters, no spaces").arg(kMaxAccountLength);
                return false;
            }
            out.hasPassword = true;
            out.password = value;
        }
    }
    if (!out.connect && (hasId || out.hasUser || out.hasPassword) && !out.help) {
        error = QStringLiteral("--id, --user and --password need --connect");
        return false;
    }
    return true;
}
