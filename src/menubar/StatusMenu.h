#pragma once

#include "MenuRow.h"
#include "MenuSnapshot.h"

#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QString>
#include <QTimeZone>

// The status menu as pure functions of a snapshot. The locale and time zone only matter for the time of the
// last update check; they default to the user's and can be pinned.
namespace StatusMenu {

// The whole menu, top to bottom.
QList<MenuRow> rows(const MenuSnapshot& snapshot, const QLocale& locale = QLocale::system(),
                    const QTimeZone& zone = QTimeZone::systemTimeZone());

// The connector's own update section: its version line and what the update pipeline offers.
QList<MenuRow> connectorRows(const MenuSnapshot& snapshot, const QLocale& locale = QLocale::system(),
                             const QTimeZone& zone = QTimeZone::systemTimeZone());

// The executor-tool section: one line per tool, update actions, the check and the last result.
QList<MenuRow> cliRows(const MenuSnapshot& snapshot);

// "刚查过" within a minute (or for a time ahead of now), the short time on the same day, else month and day.
QString checkedText(const QDateTime& checked, const QDateTime& now, const QLocale& locale = QLocale::system(),
                    const QTimeZone& zone = QTimeZone::systemTimeZone());

// A text longer than `limit` characters (grapheme clusters, as the user counts them) becomes its first
// limit − 1 characters and "…". ("short" itself is a reserved word.)
QString short_(const QString& text, int limit = 34);

// Abbreviated month name and day, in the locale's order, without year or weekday: "3月1日", "Mar 1".
QString monthDay(const QDate& date, const QLocale& locale);

} // namespace StatusMenu
