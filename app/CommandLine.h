// The command line of ardenix. Screening stations run unattended and
// restart, so the program can be told which camera to connect to at start:
//   ardenix --connect ADDRESS [--id N] [--user NAME] [--password-file FILE]
// Options Qt itself understands (one dash, e.g. -platform offscreen) are left
// to Qt, with their values.
#pragma once

#include <QString>
#include <QStringList>

struct CommandLine {
    bool help = false;
    bool version = false;
    bool connect = false;
    QString address;
    int id = 0; // 0: take the device number from the LAN search
    bool hasUser = false;
    QString user;
    bool hasPassword = false;
    QString password;

    // Parses the arguments after the program name; false with a message in
    // error when they are malformed or unknown. --password-file is read here
    // ("-" reads standard input).
    static bool parse(const QStringList& arguments, CommandLine& out, QString& error);
    static QString usage();
};
