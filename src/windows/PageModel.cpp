#include "PageModel.h"

const char* toneName(Tone tone) {
    switch (tone) {
    case Tone::primary:
        return "primary";
    case Tone::secondary:
        return "secondary";
    case Tone::accent:
        return "accent";
    case Tone::green:
        return "green";
    case Tone::orange:
        return "orange";
    case Tone::red:
        return "red";
    }
    return "?";
}
