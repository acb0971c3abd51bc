#pragma once

#include <QByteArray>

// libplist builds and frees its trees by recursion and copies an object each time a binary list refers to
// it again: a list nested too deeply overflows the stack, and one that refers to its objects over and over
// grows without end. Property lists are measured here before libplist sees them, without recursion.
namespace PropertyListShape {

// Real Info dictionaries nest a handful of levels and hold a few hundred values.
inline constexpr int maxDepth = 128;
inline constexpr quint64 maxValues = 250000;

// True when the list (XML or binary) nests deeper than maxDepth or, as a tree, holds more than maxValues
// values; also when a binary list's tables cannot be walked at all.
bool tooDeepOrLarge(const QByteArray& bytes);

} // namespace PropertyListShape
