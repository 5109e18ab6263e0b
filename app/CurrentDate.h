#pragma once
// The local date the main window follows for its day change. Tests put a
// date source of their own here to cross midnight; by default it is the
// computer's clock. GUI thread.

#include <QDate>

#include <functional>

namespace CurrentDate {

using Source = std::function<QDate()>;

// The source in use; an empty one means the computer's clock.
inline Source& source()
{
    static Source s;
    return s;
}

inline QDate today()
{
    return source() ? source()() : QDate::currentDate();
}

} // namespace CurrentDate
