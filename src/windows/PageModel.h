#pragma once

#include <QString>

// What the page models share: the colours a text or mark is drawn in, named by role so the models stay free
// of widgets and the window maps each role to one colour.
enum class Tone { primary, secondary, accent, green, orange, red };

const char* toneName(Tone tone);
