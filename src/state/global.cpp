#include "state/global.h"

namespace {
struct Rgb {
    uint8_t r, g, b;
};
constexpr Rgb DarkScheme[5] = {{70, 70, 90}, {120, 120, 120}, {150, 150, 150}, {255, 200, 20}, {0, 255, 0}};
constexpr Rgb LightScheme[5] = {{150, 150, 150}, {80, 80, 80}, {240, 230, 230}, {150, 0, 0}, {0, 0, 100}};
} // namespace

void ApplyColorScheme()
{
    const Rgb* scheme = LightBackground ? LightScheme : DarkScheme;
    for (int i = 0; i < 5; ++i) {
        SchemeR[i] = scheme[i].r;
        SchemeG[i] = scheme[i].g;
        SchemeB[i] = scheme[i].b;
    }
}
