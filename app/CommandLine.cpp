#include "app/CommandLine.h"

#include <QFile>
#include <QRegularExpression>

#include <cstdio>

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

// Options of QApplication and its platform plug-ins that take the next
// argument as their value. Qt takes them with one dash or two.
const char* const kQtValueOptions[] = { "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
    "geometry", "qwindowtitle", "title", "qwindowicon", "icon", "session", "display", "name", "style", "stylesheet" };
const char* const kQtFlags[] = { "reverse", "widgetcount", "nograb", "dograb", "sync", "testability" };

bool isQtOption(const QString& name, bool withValue)
{
    if (withValue) {
        for (const char* option : kQtValueOptions) {
            if (name == QLatin1String(option))
                return true;
        }
        return false;
    }
    for (const char* flag : kQtFlags) {
        if (name == QLatin1String(flag))
            return true;
    }
    // -style=fusion, -qmljsdebugger=port:1234
    return name.contains(QLatin1Char('='))
        && (isQtOption(name.section(QLatin1Char('='), 0, 0), true) || name.startsWith(QLatin1String("qmljsdebugger=")));
}

// The first line of a file, or of standard input for "-", without its line end.
bool readFirstLine(const QString& path, QString& line, QString& error)
{
    QFile file;
    bool opened = false;
    if (path == QLatin1String("-"))
        opened = file.open(stdin, QIODevice::ReadOnly);
    else {
        file.setFileName(path);
        opened = file.open(QIODevice::ReadOnly);
    }
    if (!opened) {
        error = QStringLiteral("--password-file: cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    QByteArray bytes = file.readLine(1024);
    while (bytes.endsWith('\n') || bytes.endsWith('\r'))
        bytes.chop(1);
    line = QString::fromUtf8(bytes);
    return true;
}

} // namespace

QString CommandLine::usage()
{
    return QStringLiteral(
        "Usage: ardenix [--connect ADDRESS [--id N] [--user NAME] [--password-file FILE | --password TEXT]]\n"
        "\n"
        "Without options the window opens and cameras are added from it.\n"
        "  --connect ADDRESS     log in to the camera at this IPv4 address (port 8800)\n"
        "                        once the window is shown, as the add-device dialog would;\n"
        "                        a camera not found or a login refused is tried again\n"
        "                        every 30 s\n"
        "  --id N                its device number, when the LAN search cannot reach it\n"
        "                        (default: the number the search reports for ADDRESS)\n"
        "  --user NAME           user name (default: the saved account's, else admin)\n"
        "  --password-file FILE  password: the first line of FILE, - for standard input\n"
        "                        (default: the saved account's, else empty)\n"
        "  --password TEXT       password on the command line, where every local user\n"
        "                        can read it; prefer --password-file\n"
        "  --help                print this text\n"
        "  --version             print the program's name and version\n"
        "Qt's own options (-platform NAME, -style NAME, ...) are passed to Qt.\n");
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
        if (argument == QLatin1String("--version")) {
            out.version = true;
            continue;
        }
        const bool takesValue = argument == QLatin1String("--connect") || argument == QLatin1String("--id")
            || argument == QLatin1String("--user") || argument == QLatin1String("--password")
            || argument == QLatin1String("--password-file");
        if (!takesValue) {
            const bool twoDashes = argument.startsWith(QLatin1String("--"));
            const QString name = argument.mid(twoDashes ? 2 : 1);
            if (!argument.startsWith(QLatin1Char('-')) || name.isEmpty()
                || (twoDashes && !isQtOption(name, false) && !isQtOption(name, true))) {
                error = QStringLiteral("unknown option or argument: %1").arg(argument);
                return false;
            }
            // Qt's own, left in the arguments for QApplication.
            if (isQtOption(name, true)) {
                if (i + 1 >= arguments.size()) {
                    error = QStringLiteral("%1 needs a value").arg(argument);
                    return false;
                }
                ++i;
            }
            continue;
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
            if (out.hasPassword) {
                error = QStringLiteral("--password and --password-file: give the password once");
                return false;
            }
            QString password = value;
            if (argument == QLatin1String("--password-file") && !readFirstLine(value, password, error))
                return false;
            if (!validAccountText(password)) {
                error = QStringLiteral("%1: at most %2 characters, no spaces").arg(argument).arg(kMaxAccountLength);
                return false;
            }
            out.hasPassword = true;
            out.password = password;
        }
    }
    if (!out.connect && (hasId || out.hasUser || out.hasPassword) && !out.help && !out.version) {
        error = QStringLiteral("--id, --user and --password(-file) need --connect");
        return false;
    }
    return true;
}
