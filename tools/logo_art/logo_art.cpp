/*
 * logo_art.cpp: draws Vorlane's built-in logo, resources/logo.bmp: a smart
 * card with its chip and contactless mark beside the name VORLANE, on a dark
 * blue-teal ground. 805 by 495 pixels, 24 bits per pixel, bottom-up.
 *
 * Every shape is a signed distance (in pixels) and is smoothed over one pixel,
 * so edges come out anti-aliased without any library; the letters are strokes
 * of a small built-in font. When the picture changes, draw the bitmap again
 * with the host target logo_bmp (tools/CMakeLists.txt), or by hand:
 *   clang++ -O2 -std=c++17 -o /tmp/logo_art tools/logo_art/logo_art.cpp
 *   /tmp/logo_art resources/logo.bmp
 */
#include "app/dib.h"
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <vector>

enum { WIDTH = 805, HEIGHT = 495 };

struct Vec {
    double x, y;
};
struct Color {
    double r, g, b;
};

static double clamp01(double v) {
    return v < 0 ? 0 : v > 1 ? 1 : v;
}
static double smooth(double a, double b, double v) {
    double t = clamp01((v - a) / (b - a));
    return t * t * (3 - 2 * t);
}
static Color mix(Color a, Color b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}
static Color hex(unsigned v) {
    return {(v >> 16 & 255) / 255.0, (v >> 8 & 255) / 255.0, (v & 255) / 255.0};
}
/* Coverage of a shape at signed distance d (negative inside). */
static double cover(double d) {
    return clamp01(0.5 - d);
}

static double segment_distance(Vec p, Vec a, Vec b) {
    double dx = b.x - a.x, dy = b.y - a.y;
    double len2 = dx * dx + dy * dy;
    double t = len2 > 0 ? clamp01(((p.x - a.x) * dx + (p.y - a.y) * dy) / len2) : 0;
    double ex = p.x - (a.x + t * dx), ey = p.y - (a.y + t * dy);
    return sqrt(ex * ex + ey * ey);
}

static double rounded_box(Vec p, double half_w, double half_h, double r) {
    double qx = fabs(p.x) - (half_w - r), qy = fabs(p.y) - (half_h - r);
    double ox = qx > 0 ? qx : 0, oy = qy > 0 ? qy : 0;
    double inside = qx > qy ? qx : qy;
    return sqrt(ox * ox + oy * oy) + (inside < 0 ? inside : 0) - r;
}

/* ---- Stroke font: glyphs in a box of height 1 (y down), as polylines. ---- */

typedef std::vector<Vec> Stroke;
struct Glyph {
    char letter;
    double width;
    std::vector<Stroke> strokes;
};

/* Points of an elliptic arc; angles in degrees, 0 = right, 90 = down. */
static Stroke arc(double cx, double cy, double rx, double ry, double from, double to) {
    Stroke s;
    int steps = 28;
    for (int i = 0; i <= steps; i++) {
        double a = (from + (to - from) * i / steps) * M_PI / 180;
        s.push_back({cx + rx * cos(a), cy + ry * sin(a)});
    }
    return s;
}
static Stroke join(Stroke a, const Stroke &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

static std::vector<Glyph> font(void) {
    std::vector<Glyph> g;
    g.push_back({'V', 0.78, {{{0, 0}, {0.39, 1}, {0.78, 0}}}});
    g.push_back({'O', 0.92, {arc(0.46, 0.5, 0.46, 0.5, 0, 360)}});
    g.push_back({'R',
                 0.66,
                 {join(join({{0, 1}, {0, 0}, {0.38, 0}}, arc(0.38, 0.26, 0.26, 0.26, -90, 90)),
                       {{0.38, 0.52}, {0, 0.52}}),
                  {{0.34, 0.52}, {0.66, 1}}}});
    g.push_back({'L', 0.56, {{{0, 0}, {0, 1}, {0.56, 1}}}});
    g.push_back({'A', 0.84, {{{0, 1}, {0.42, 0}, {0.84, 1}}, {{0.17, 0.66}, {0.67, 0.66}}}});
    g.push_back({'N', 0.72, {{{0, 1}, {0, 0}, {0.72, 1}, {0.72, 0}}}});
    g.push_back({'E', 0.6, {{{0.6, 0}, {0, 0}, {0, 1}, {0.6, 1}}, {{0, 0.5}, {0.5, 0.5}}}});
    g.push_back(
        {'S',
         0.62,
         {join(arc(0.31, 0.25, 0.31, 0.25, -20, -270), arc(0.31, 0.75, 0.31, 0.25, -90, 160))}});
    g.push_back({'M', 0.9, {{{0, 1}, {0, 0}, {0.45, 0.62}, {0.9, 0}, {0.9, 1}}}});
    g.push_back({'T', 0.7, {{{0, 0}, {0.7, 0}}, {{0.35, 0}, {0.35, 1}}}});
    g.push_back({'C', 0.82, {arc(0.5, 0.5, 0.5, 0.5, -45, -315)}});
    g.push_back(
        {'D',
         0.78,
         {join(join({{0.3, 1}, {0, 1}, {0, 0}, {0.3, 0}}, arc(0.3, 0.5, 0.48, 0.5, -90, 90)),
               {{0.3, 1}})}});
    g.push_back({'K', 0.7, {{{0, 0}, {0, 1}}, {{0.7, 0}, {0, 0.6}}, {{0.22, 0.45}, {0.7, 1}}}});
    g.push_back(
        {'B',
         0.66,
         {join(join(join({{0, 0.48}, {0, 0}, {0.36, 0}}, arc(0.36, 0.24, 0.24, 0.24, -90, 90)),
                    arc(0.38, 0.74, 0.26, 0.26, -90, 90)),
               {{0, 1}, {0, 0.48}, {0.36, 0.48}})}});
    g.push_back({'H', 0.72, {{{0, 0}, {0, 1}}, {{0.72, 0}, {0.72, 1}}, {{0, 0.5}, {0.72, 0.5}}}});
    g.push_back({'W', 1.1, {{{0, 0}, {0.26, 1}, {0.55, 0.18}, {0.84, 1}, {1.1, 0}}}});
    return g;
}

static const Glyph *glyph(const std::vector<Glyph> &f, char c) {
    for (const Glyph &g : f)
        if (g.letter == c)
            return &g;
    return nullptr;
}

/* A line of text as segments in pixel coordinates, laid out from x, y (the
   top left of the capitals) at the given height and letter gap. */
struct Text {
    std::vector<Vec> a, b;
    double stroke;
    double x0, y0, x1, y1; /* bounding box of the strokes' centre lines */
};

static double text_width(const std::vector<Glyph> &f, const char *s, double height, double gap) {
    double w = 0;
    for (const char *c = s; *c; c++) {
        const Glyph *g = glyph(f, *c);
        w += (g ? g->width : 0.5) * height + (c[1] ? gap : 0);
    }
    return w;
}

static Text text_layout(const std::vector<Glyph> &f, const char *s, double x, double y,
                        double height, double gap, double stroke) {
    Text t;
    t.stroke = stroke;
    t.x0 = x;
    t.y0 = y;
    t.y1 = y + height;
    for (const char *c = s; *c; c++) {
        const Glyph *g = glyph(f, *c);
        if (!g) {
            x += 0.5 * height + gap;
            continue;
        }
        for (const Stroke &st : g->strokes)
            for (size_t i = 1; i < st.size(); i++) {
                t.a.push_back({x + st[i - 1].x * height, y + st[i - 1].y * height});
                t.b.push_back({x + st[i].x * height, y + st[i].y * height});
            }
        x += g->width * height + gap;
    }
    t.x1 = x - gap;
    return t;
}

/* Signed distance to the text's strokes (negative inside). */
static double text_distance(const Text &t, Vec p) {
    double margin = t.stroke + 30;
    if (p.x < t.x0 - margin || p.x > t.x1 + margin || p.y < t.y0 - margin || p.y > t.y1 + margin)
        return 1e9;
    double best = 1e9;
    for (size_t i = 0; i < t.a.size(); i++) {
        double d = segment_distance(p, t.a[i], t.b[i]);
        if (d < best)
            best = d;
    }
    return best - t.stroke / 2;
}

/* ---- The scene ---- */

struct Scene {
    Vec card_centre;
    double card_angle; /* radians */
    double card_half_w, card_half_h, card_radius;
    Text name, tagline, card_name;
    double rule_x0, rule_x1, rule_y;
};

static Vec card_local(const Scene &s, Vec p) {
    double dx = p.x - s.card_centre.x, dy = p.y - s.card_centre.y;
    double c = cos(-s.card_angle), n = sin(-s.card_angle);
    return {dx * c - dy * n, dx * n + dy * c};
}

static Color background(Vec p) {
    Color top = hex(0x0B1A33), bottom = hex(0x0D4157);
    double t = clamp01((p.y / HEIGHT) * 0.75 + (p.x / WIDTH) * 0.35);
    Color c = mix(top, bottom, t);
    /* soft light behind the card */
    double gx = (p.x - 215) / 300, gy = (p.y - 240) / 240;
    double glow = exp(-(gx * gx + gy * gy) * 1.6);
    c = mix(c, hex(0x2A7F96), glow * 0.35);
    /* faint rings, like a field around a contactless card */
    double r = sqrt((p.x - 215) * (p.x - 215) + (p.y - 240) * (p.y - 240));
    double ring = fabs(fmod(r, 46.0) - 23) - 22.2;
    if (r > 190)
        c = mix(c, hex(0x5FB8C9), cover(ring) * 0.06 * clamp01(1 - (r - 190) / 380));
    return c;
}

/* The band along the bottom of the card and its colours. */
static double card_wave_edge(double x) {
    return 28 + 14 * sin(x / 58.0 + 0.9);
}

static Color card_surface(const Scene &s, Vec q) {
    Color face = mix(hex(0xF7FAFC), hex(0xD5DEE7),
                     clamp01((q.y + s.card_half_h) / (2 * s.card_half_h) * 0.8 + q.x / 900));
    double band = q.y - card_wave_edge(q.x);
    Color teal =
        mix(hex(0x138A9E), hex(0x1D4E89), clamp01((q.x + s.card_half_w) / (2 * s.card_half_w)));
    face = mix(face, teal, cover(-band));
    double thin = fabs(q.y - card_wave_edge(q.x) + 9) - 1.2;
    face = mix(face, hex(0x7ED3DE), cover(thin) * 0.8);
    return face;
}

/* The contact chip, centred at c in card coordinates. */
static Color chip(Color under, Vec q, Vec c) {
    Vec p = {q.x - c.x, q.y - c.y};
    double hw = 29, hh = 23;
    double d = rounded_box(p, hw, hh, 7);
    if (d > 2)
        return under;
    Color gold = mix(hex(0xF3D98B), hex(0xB8872F),
                     clamp01((p.y + hh) / (2 * hh) * 0.7 + (p.x + hw) / (2 * hw) * 0.3));
    double line = 1e9;
    double pad = rounded_box(p, 10, 13, 4);
    line = fmin(line, fabs(pad) - 0.8);
    for (double y : {-7.5, 7.5}) {
        line = fmin(line, segment_distance(p, {-hw, y}, {-10, y}) - 0.8);
        line = fmin(line, segment_distance(p, {10, y}, {hw, y}) - 0.8);
    }
    line = fmin(line, segment_distance(p, {0, -hh}, {0, -13}) - 0.8);
    line = fmin(line, segment_distance(p, {0, 13}, {0, hh}) - 0.8);
    Color c2 = mix(gold, hex(0x8C6520), cover(line) * 0.9);
    c2 = mix(c2, hex(0x8C6520), cover(fabs(d) - 0.7) * 0.7); /* rim */
    return mix(under, c2, cover(d));
}

/* Three arcs opening to the right: the contactless mark. */
static Color waves(Color under, Vec q, Vec c) {
    Vec p = {q.x - c.x, q.y - c.y};
    double r = sqrt(p.x * p.x + p.y * p.y);
    double angle = atan2(p.y, p.x) * 180 / M_PI;
    double best = 1e9;
    for (double radius : {9.0, 17.0, 25.0}) {
        double d;
        if (fabs(angle) <= 45) {
            d = fabs(r - radius);
        } else { /* round ends of the arc */
            double e = 45 * M_PI / 180;
            Vec top = {radius * cos(e), -radius * sin(e)},
                bottom = {radius * cos(e), radius * sin(e)};
            d = fmin(segment_distance(p, top, top), segment_distance(p, bottom, bottom));
        }
        best = fmin(best, d - 1.8);
    }
    return mix(under, hex(0x6C7C8E), cover(best));
}

static Color shade(const Scene &s, Vec p) {
    Color c = background(p);

    /* the card's shadow, soft and offset down-right */
    Vec sq = card_local(s, {p.x - 9, p.y - 14});
    double sd = rounded_box(sq, s.card_half_w, s.card_half_h, s.card_radius);
    c = mix(c, hex(0x020812), (1 - smooth(-10, 26, sd)) * 0.55);

    Vec q = card_local(s, p);
    double cd = rounded_box(q, s.card_half_w, s.card_half_h, s.card_radius);
    if (cd < 1) {
        Color face = card_surface(s, q);
        face = chip(face, q, {-s.card_half_w + 70, -18});
        face = waves(face, q, {-s.card_half_w + 120, -18});
        face = mix(face, hex(0xFFFFFF), cover(text_distance(s.card_name, q)));
        face = mix(face, hex(0xFFFFFF), cover(fabs(cd + 1.5) - 0.6) * 0.5); /* edge light */
        c = mix(c, face, cover(cd));
    }

    /* the name, with a soft shadow */
    double shadow = text_distance(s.name, {p.x - 3, p.y - 4});
    c = mix(c, hex(0x020812), (1 - smooth(-3, 7, shadow)) * 0.45);
    Color ink =
        mix(hex(0xFFFFFF), hex(0xCBEFF4), clamp01((p.y - s.name.y0) / (s.name.y1 - s.name.y0)));
    c = mix(c, ink, cover(text_distance(s.name, p)));

    /* the rule and the tagline */
    double rule = segment_distance(p, {s.rule_x0, s.rule_y}, {s.rule_x1, s.rule_y}) - 1.3;
    Color rule_ink =
        mix(hex(0x39C2D0), hex(0xE7C66F), clamp01((p.x - s.rule_x0) / (s.rule_x1 - s.rule_x0)));
    c = mix(c, rule_ink, cover(rule));
    c = mix(c, hex(0x8FDCE4), cover(text_distance(s.tagline, p)));
    return c;
}

static Scene scene(void) {
    std::vector<Glyph> f = font();
    Scene s;
    s.card_centre = {212, 245};
    s.card_angle = -9 * M_PI / 180;
    s.card_half_w = 152;
    s.card_half_h = 96;
    s.card_radius = 15;

    const char *name = "VORLANE";
    double height = 56, gap = 12;
    double left = 408, right = 782;
    double w = text_width(f, name, height, gap);
    double x = left + (right - left - w) / 2;
    s.name = text_layout(f, name, x, 196, height, gap, 9.5);

    s.rule_x0 = x - 2;
    s.rule_x1 = x + w + 2;
    s.rule_y = 282;

    const char *tag = "SMART CARD WORKBENCH";
    double th = 14, tgap = 6.2;
    double tw = text_width(f, tag, th, tgap);
    s.tagline = text_layout(f, tag, x + (w - tw) / 2, 298, th, tgap, 2.3);

    /* the name again, small, on the card's band (card coordinates) */
    s.card_name = text_layout(f, name, -s.card_half_w + 24, 58, 15, 4.5, 2.6);
    return s;
}

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: logo_art OUTPUT.bmp\n");
        return 2;
    }
    Scene s = scene();
    unsigned row = (WIDTH * 3 + 3) / 4 * 4;
    std::vector<unsigned char> file(54 + (size_t)row * HEIGHT, 0);
    unsigned char *h = file.data();
    h[0] = 'B';
    h[1] = 'M';
    dib_put_u32(h + 2, (unsigned)file.size());
    dib_put_u32(h + 10, 54);
    dib_put_u32(h + 14, 40);
    dib_put_u32(h + 18, WIDTH);
    dib_put_u32(h + 22, HEIGHT);
    dib_put_u16(h + 26, 1);
    dib_put_u16(h + 28, 24);
    dib_put_u32(h + 34, row * HEIGHT);
    dib_put_u32(h + 38, 2835); /* 72 dpi */
    dib_put_u32(h + 42, 2835);
    for (int y = 0; y < HEIGHT; y++) {
        unsigned char *out = h + 54 + (size_t)(HEIGHT - 1 - y) * row; /* bottom-up */
        for (int x = 0; x < WIDTH; x++) {
            Color c = shade(s, {x + 0.5, y + 0.5});
            out[3 * x] = (unsigned char)lround(clamp01(c.b) * 255);
            out[3 * x + 1] = (unsigned char)lround(clamp01(c.g) * 255);
            out[3 * x + 2] = (unsigned char)lround(clamp01(c.r) * 255);
        }
    }
    FILE *fp = fopen(argv[1], "wb");
    if (!fp || fwrite(file.data(), 1, file.size(), fp) != file.size() || fclose(fp) != 0) {
        perror(argv[1]);
        return 1;
    }
    return 0;
}
