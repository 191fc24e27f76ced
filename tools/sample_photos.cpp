#include "tools/sample_photos.h"

#include <algorithm>
#include <cmath>

namespace tools {
namespace {

using picture::kPhotoHeight;
using picture::kPhotoWidth;
using picture::Picture;

struct Rgb {
    double r, g, b;
};

Rgb Mix(Rgb a, Rgb b, double t) {
    t = std::clamp(t, 0.0, 1.0);
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// A fully saturated colour of the given hue in degrees, slightly softened.
Rgb Hue(double degrees) {
    auto channel = [degrees](double offset) {
        const double h = std::fmod(degrees + offset + 360.0, 360.0);
        const double d = std::abs(h - 180.0);  // 0 .. 180
        return 30.0 + 200.0 * std::clamp((d - 60.0) / 60.0, 0.0, 1.0);
    };
    return {channel(0.0), channel(240.0), channel(120.0)};
}

double SmoothStep(double e0, double e1, double x) {
    const double t = std::clamp((x - e0) / (e1 - e0), 0.0, 1.0);
    return t * t * (3 - 2 * t);
}

// Edge coverage for a signed distance (negative inside), about one pixel soft.
double Inside(double distance) {
    return 1.0 - SmoothStep(-0.75, 0.75, distance);
}

void Put(Picture& img, int x, int y, Rgb c) {
    auto q = [](double v) { return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 255.0))); };
    img.Set(x, y, q(c.r), q(c.g), q(c.b));
}

constexpr int W = kPhotoWidth;
constexpr int H = kPhotoHeight;

Picture Sunset() {
    Picture img(W, H);
    const double horizon = 160;
    const double sun_x = 190, sun_y = 138, sun_r = 24;
    const Rgb zenith{38, 32, 96}, mid{214, 92, 86}, low{255, 184, 92};
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            Rgb c;
            if (y < horizon) {
                const double t = y / horizon;
                c = t < 0.55 ? Mix(zenith, mid, t / 0.55) : Mix(mid, low, (t - 0.55) / 0.45);
                const double d = std::hypot(x - sun_x, y - sun_y);
                const double glow = std::exp(-std::max(0.0, d - sun_r) / 38.0);
                c = Mix(c, Rgb{255, 214, 140}, glow * 0.65);
                c = Mix(c, Rgb{255, 240, 190}, Inside(d - sun_r));
            } else {
                const double t = (y - horizon) / (H - horizon);
                c = Mix(Rgb{178, 92, 84}, Rgb{30, 28, 70}, t);
                // The sun's path on the water: broken horizontal streaks.
                const double spread = 10 + 60 * t;
                const double across = std::exp(-std::pow((x - sun_x) / spread, 2));
                const double ripple = 0.5 + 0.5 * std::sin(y * 1.7 + std::sin(x * 0.11) * 2.0);
                c = Mix(c, Rgb{255, 205, 130}, across * ripple * (1.0 - 0.6 * t));
            }
            // Dark headlands left and right.
            const double left =
                horizon - 38 * std::exp(-std::pow(x / 70.0, 2)) - 6 * std::sin(x * 0.09);
            const double right = horizon - 22 * std::exp(-std::pow((x - W) / 55.0, 2));
            const double land = std::max(Inside(left - y), Inside(right - y));
            if (y <= horizon + 1)
                c = Mix(c, Rgb{46, 24, 48}, land);
            Put(img, x, y, c);
        }
    }
    return img;
}

Picture ColourChart() {
    // Columns of hues 60 degrees apart (shifted a little for warmer tones),
    // rows light, full and deep, then a row of greys.
    Rgb patches[24];
    for (int col = 0; col < 6; ++col) {
        const Rgb hue = Hue(col * 60.0 + 15.0);
        patches[col] = Mix(hue, Rgb{250, 248, 244}, 0.45);
        patches[6 + col] = hue;
        patches[12 + col] = Mix(hue, Rgb{20, 18, 30}, 0.45);
        const double grey = 235 - col * 40.0;
        patches[18 + col] = Rgb{grey, grey, grey};
    }
    Picture img(W, H);
    const int cols = 6, rows = 4, margin = 12, gap = 6;
    const double pw = (W - 2.0 * margin - (cols - 1) * gap) / cols;
    const double ph = (H - 2.0 * margin - (rows - 1) * gap) / rows;
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            Rgb c = Mix(Rgb{34, 34, 38}, Rgb{22, 22, 26}, static_cast<double>(y) / H);
            for (int i = 0; i < cols * rows; ++i) {
                const double x0 = margin + (i % cols) * (pw + gap);
                const double y0 = margin + (i / cols) * (ph + gap);
                // Rounded rectangle of radius 5.
                const double dx = std::max(std::abs(x + 0.5 - (x0 + pw / 2)) - (pw / 2 - 5), 0.0);
                const double dy = std::max(std::abs(y + 0.5 - (y0 + ph / 2)) - (ph / 2 - 5), 0.0);
                const double d = std::hypot(dx, dy) - 5;
                if (d < 1)
                    c = Mix(c, patches[i], Inside(d));
            }
            Put(img, x, y, c);
        }
    }
    return img;
}

double Ridge(double x, double base, double a, double f, double phase) {
    return base - a * (0.55 * std::sin(x * f + phase) + 0.3 * std::sin(x * f * 2.3 + phase * 1.7) +
                       0.15 * std::sin(x * f * 5.1 + phase * 0.3));
}

Picture MountainLake() {
    Picture img(W, H);
    const double shore = 170;
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            // Above the shore line the scene; below, its reflection.
            const bool water = y > shore;
            const double sy = water ? 2 * shore - y : y;
            Rgb c = Mix(Rgb{92, 148, 214}, Rgb{200, 226, 244}, sy / shore);
            const double far = Ridge(x, 108, 34, 0.031, 0.4);
            const double near = Ridge(x, 150, 24, 0.047, 2.1);
            const double far_in = Inside(far - sy);
            Rgb rock = Mix(Rgb{118, 124, 150}, Rgb{86, 96, 118}, (sy - far) / 60);
            const double snow_line = far + 14 + 4 * std::sin(x * 0.3);
            rock = Mix(rock, Rgb{244, 246, 252}, Inside(sy - snow_line) * 0.92);
            c = Mix(c, rock, far_in);
            const Rgb forest = Mix(Rgb{52, 108, 62}, Rgb{30, 72, 44}, (sy - near) / 30);
            c = Mix(c, forest, Inside(near - sy));
            if (sy > shore - 6)
                c = Mix(c, Rgb{96, 132, 64}, SmoothStep(shore - 6, shore - 2, sy));
            if (water) {
                c = Mix(c, Rgb{40, 80, 120}, 0.35 + 0.3 * (y - shore) / (H - shore));
                const double wave = 0.5 + 0.5 * std::sin(y * 2.1 + std::sin(x * 0.07) * 3);
                c = Mix(c, Rgb{210, 230, 245}, 0.12 * wave);
            }
            Put(img, x, y, c);
        }
    }
    return img;
}

Picture Balloons() {
    struct Balloon {
        double x, y, rx, ry;
        Rgb colour;
    };
    static const Balloon kBalloons[] = {
        {62, 76, 24, 30, {226, 56, 64}},    {128, 52, 20, 25, {250, 190, 40}},
        {190, 90, 26, 32, {60, 120, 220}},  {250, 58, 19, 24, {90, 190, 90}},
        {282, 128, 22, 28, {200, 80, 190}},
    };
    Picture img(W, H);
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            Rgb c = Mix(Rgb{70, 140, 225}, Rgb{176, 214, 246}, static_cast<double>(y) / H);
            // Soft clouds.
            const double cloud1 =
                std::exp(-(std::pow((x - 90) / 60.0, 2) + std::pow((y - 180) / 14.0, 2)));
            const double cloud2 =
                std::exp(-(std::pow((x - 230) / 75.0, 2) + std::pow((y - 200) / 12.0, 2)));
            c = Mix(c, Rgb{250, 250, 252}, std::min(1.0, 1.2 * (cloud1 + cloud2)));
            // Green hills at the bottom.
            const double hill = 222 - 12 * std::sin(x * 0.02 + 1) - 6 * std::sin(x * 0.05);
            c = Mix(c, Mix(Rgb{96, 170, 72}, Rgb{60, 120, 50}, (y - hill) / 20), Inside(hill - y));
            for (const Balloon& b : kBalloons) {
                // String: a gently curving line from the balloon's bottom.
                const double top = b.y + b.ry;
                if (y > top && y < top + 60) {
                    const double sx = b.x + 3 * std::sin((y - top) * 0.12);
                    c = Mix(c, Rgb{90, 90, 90}, Inside(std::abs(x - sx) - 0.5) * 0.8);
                }
                const double nx = (x - b.x) / b.rx, ny = (y - b.y) / b.ry;
                const double r = std::sqrt(nx * nx + ny * ny);
                const double d = (r - 1) * std::min(b.rx, b.ry);
                if (d < 1) {
                    // Shaded body with a highlight up and to the left.
                    const double light = std::hypot(nx + 0.35, ny + 0.4);
                    Rgb body =
                        Mix(b.colour, Rgb{b.colour.r * 0.55, b.colour.g * 0.55, b.colour.b * 0.55},
                            SmoothStep(0.2, 1.3, light));
                    body = Mix(body, Rgb{255, 255, 255}, 0.7 * (1 - SmoothStep(0.0, 0.28, light)));
                    c = Mix(c, body, Inside(d));
                }
            }
            Put(img, x, y, c);
        }
    }
    return img;
}

}  // namespace

std::vector<SamplePhoto> SamplePhotos() {
    return {
        {"sunset", Sunset()},
        {"colour-chart", ColourChart()},
        {"mountain-lake", MountainLake()},
        {"balloons", Balloons()},
    };
}

}  // namespace tools
