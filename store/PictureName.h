// The fields of an alarm picture's file name, "<camera>-<temperature×10>-
// <yyyyMMddhhmmss>-<state>-<unit>.jpg", as both the statistics store and the
// alarm list card read them. A plain value; any thread.
#pragma once

#include <QString>

struct PictureName {
    // Splits the part of filePath after the last "/" at "-". The name is
    // valid only with exactly five fields (empty fields count).
    static PictureName parse(const QString& filePath);

    bool valid = false;
    QString camera;
    QString temperature; // tenths of a degree Celsius
    QString stamp; // 14 digits when well formed
    QString state; // 1 normal, 2 abnormal
    QString unit; // begins with the unit digit: 1 Fahrenheit

    // Temperature in degrees Celsius; 0 when the field is not a number.
    double celsius() const;
    // State as a base-10 number; 0 when the field is not a number.
    int stateCode() const;
    // The first character of the unit field as a number; 0 when none.
    int unitDigit() const;
    bool hasStamp() const { return stamp.size() == 14; }
    // "yyyy-MM-dd" from the time stamp; empty without a 14-character stamp.
    QString day() const;
    // "yyyy-MM-dd hh:mm:ss" from the time stamp; empty without one.
    QString dateTime() const;
};
