#pragma once

#include <QString>

// The companion apps' identifiers and the maker's team, written out rather than taken from the code under
// test.
namespace TestSupport {

inline const QString vestrano = QStringLiteral("com.tamrik.vestrano");
inline const QString vestranoGlobal = QStringLiteral("com.tamrik.vestrano.global");
inline const QString team = QStringLiteral("K3ZP8W2QNM");

} // namespace TestSupport
