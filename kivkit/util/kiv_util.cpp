// Float helpers; plain ordered comparisons, so NaN falls to the "else" branch of each.
#include "kiv_util.h"

#include <cmath>

float myabs(float x) {
    return x < 0 ? -x : x;
}

float mymax(float a, float b) {
    return a > b ? a : b;
}

float mymin(float a, float b) {
    return a < b ? a : b;
}

int mysign(float x) {
    if (x < 0)
        return -1;
    if (x > 0)
        return 1;
    return 0;
}

int myround(float x) {
    // Values outside the int range (and NaN) would make the cast undefined: saturate instead.
    float m = myabs(x) + 0.5f;
    if (!(m == m))
        return 0;
    if (m >= 2147483648.0f)
        return mysign(x) < 0 ? -2147483647 - 1 : 2147483647;
    return mysign(x) * (int)m;
}

int kiv_d2i(double d) {
    if (d != d)
        return 0;
    if (d >= 2147483647.0)
        return 2147483647;
    if (d <= -2147483648.0)
        return -2147483647 - 1;
    return (int)d;
}

unsigned kiv_d2color(double d) {
    if (!(d - d == 0))
        return 0;
    double m = std::fmod(std::trunc(d), 4294967296.0);
    if (m < 0)
        m += 4294967296.0;
    return (unsigned)(unsigned long long)m;
}
