/*
 * logo_test.cpp: the logo behind the MDI children, read back from the
 * visible MDI client pixel by pixel: the built-in picture, a smartlogo.bmp
 * of known colours stretched over the client, restretched after a resize,
 * and bad files falling back to the built-in picture.
 */
#include <gtest/gtest.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "app/app.h"
#include "app/app_state.h"
#include "app/logo.h"
#include "tests/bytes_le.h"
#include "tests/win/harness/frame.h"

static const COLORREF RED = RGB(255, 0, 0), GREEN = RGB(0, 255, 0), BLUE = RGB(0, 0, 255),
                      WHITE = RGB(255, 255, 255);

/* The colour of quadrant (column, row) of a test picture, row 0 at the top:
   red, green / blue, white. */
static COLORREF quadrant(int column, int row) {
    static const COLORREF colours[2][2] = {{RED, GREEN}, {BLUE, WHITE}};
    return colours[row][column];
}

/* A 24-bit file of width by height in the four quadrant colours. */
static Bytes quadrant_file(int width, int height, bool top_down) {
    size_t row_bytes = ((size_t)width * 3 + 3) / 4 * 4;
    Bytes b(54 + row_bytes * height, 0);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 2, (uint32_t)b.size());
    put32(b, 10, 54);
    put32(b, 14, 40);
    put32(b, 18, (uint32_t)width);
    put32(b, 22, (uint32_t)(top_down ? -height : height));
    put16(b, 26, 1);
    put16(b, 28, 24);
    for (int y = 0; y < height; y++) {
        int file_row = top_down ? y : height - 1 - y;
        for (int x = 0; x < width; x++) {
            COLORREF c = quadrant(x * 2 / width, y * 2 / height);
            unsigned char *p = &b[54 + file_row * row_bytes + x * 3];
            p[0] = GetBValue(c);
            p[1] = GetGValue(c);
            p[2] = GetRValue(c);
        }
    }
    return b;
}

/* A 2 x 2 file with a core header and an 8-bit colour table of 3-byte
   entries: entry i is used by quadrant i (reading order). */
static Bytes core_palette_file(void) {
    Bytes b(14 + 12 + 256 * 3 + 2 * 4, 0);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 2, (uint32_t)b.size());
    put32(b, 14, 12);
    put16(b, 18, 2);
    put16(b, 20, 2);
    put16(b, 22, 1);
    put16(b, 24, 8);
    for (int i = 0; i < 4; i++) {
        COLORREF c = quadrant(i % 2, i / 2);
        b[26 + 3 * i] = GetBValue(c);
        b[27 + 3 * i] = GetGValue(c);
        b[28 + 3 * i] = GetRValue(c);
    }
    size_t pixels = 26 + 256 * 3;
    b[pixels] = 2; /* bottom row first: blue, white */
    b[pixels + 1] = 3;
    b[pixels + 4] = 0; /* top row: red, green */
    b[pixels + 5] = 1;
    return b;
}

static void write_file(const char *name, const Bytes &bytes) {
    FILE *f = fopen(name, "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    fclose(f);
}

class LogoTest : public testing::Test {
  protected:
    void SetUp() override {
        char temp[MAX_PATH];
        GetCurrentDirectoryA(sizeof previous, previous);
        GetTempPathA(sizeof temp, temp);
        directory = std::string(temp) + "vorlane_logo_" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(directory.c_str(), NULL);
        ASSERT_TRUE(SetCurrentDirectoryA(directory.c_str()));
        DeleteFileA("smartlogo.bmp");
        _putenv("HARNESS_VISIBLE=1");
        harness_frame_open();
        ASSERT_TRUE(app.gui.mdi_client);
    }
    void TearDown() override {
        harness_frame_close();
        EXPECT_EQ(app.gui.logo_bitmap, (HBITMAP)0) << "the frame's destruction releases the logo";
        DeleteFileA("smartlogo.bmp");
        SetCurrentDirectoryA(previous);
        RemoveDirectoryA(directory.c_str());
    }
    /* Loads the logo as start-up does and has the client erase itself. */
    void load_and_paint() {
        logo_load();
        repaint();
    }
    void repaint() {
        RedrawWindow(app.gui.mdi_client, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_ERASENOW);
        harness_pump(100);
    }
    SIZE client_size() {
        RECT r;
        GetClientRect(app.gui.mdi_client, &r);
        return {r.right, r.bottom};
    }
    COLORREF pixel(int x, int y) {
        HDC dc = GetDC(app.gui.mdi_client);
        COLORREF c = GetPixel(dc, x, y);
        ReleaseDC(app.gui.mdi_client, dc);
        return c;
    }
    /* The four quadrants, sampled at their centres and near the corners of
       the client, show the test picture's colours. */
    void expect_quadrants(const char *what) {
        SIZE s = client_size();
        ASSERT_GT(s.cx, 40);
        ASSERT_GT(s.cy, 40);
        for (int row = 0; row < 2; row++)
            for (int column = 0; column < 2; column++) {
                int cx = s.cx * (1 + 2 * column) / 4, cy = s.cy * (1 + 2 * row) / 4;
                int ex = column ? s.cx - 2 : 1, ey = row ? s.cy - 2 : 1;
                EXPECT_EQ(pixel(cx, cy), quadrant(column, row))
                    << what << " centre of quadrant " << column << "," << row;
                EXPECT_EQ(pixel(ex, ey), quadrant(column, row))
                    << what << " corner " << ex << "," << ey;
            }
    }
    /* The client shows the built-in picture stretched over all of it: each
       sampled pixel equals the resource's pixel at the scaled position, or
       a neighbour of it (stretching rounds). */
    void expect_builtin(const char *what) {
        ASSERT_EQ(app.gui.logo_width, 805) << what;
        ASSERT_EQ(app.gui.logo_height, 495) << what;
        std::vector<COLORREF> source = builtin_pixels();
        ASSERT_EQ(source.size(), 805u * 495u);
        SIZE s = client_size();
        int mismatches = 0;
        for (int j = 0; j <= 8; j++)
            for (int i = 0; i <= 8; i++) {
                int x = i * (s.cx - 1) / 8, y = j * (s.cy - 1) / 8;
                int sx = (int)((x + 0.5) * 805 / s.cx), sy = (int)((y + 0.5) * 495 / s.cy);
                COLORREF shown = pixel(x, y);
                bool found = false;
                for (int dy = -1; dy <= 1 && !found; dy++)
                    for (int dx = -1; dx <= 1 && !found; dx++) {
                        int px = sx + dx, py = sy + dy;
                        if (px >= 0 && py >= 0 && px < 805 && py < 495)
                            found = source[(size_t)py * 805 + px] == shown;
                    }
                if (!found)
                    mismatches++;
                EXPECT_TRUE(found)
                    << what << " at " << x << "," << y << " shows " << std::hex << shown;
            }
        EXPECT_EQ(mismatches, 0) << what;
    }
    /* The resource "logo" as top-down 0x00RRGGBB values. */
    std::vector<COLORREF> builtin_pixels() {
        HBITMAP bitmap = (HBITMAP)LoadImageA(GetModuleHandleA(NULL), "logo", IMAGE_BITMAP, 0, 0,
                                             LR_CREATEDIBSECTION);
        std::vector<COLORREF> out;
        if (!bitmap)
            return out;
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = 805;
        info.bmiHeader.biHeight = -495;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        std::vector<uint32_t> raw(805 * 495);
        HDC screen = GetDC(NULL);
        int rows = GetDIBits(screen, bitmap, 0, 495, raw.data(), &info, DIB_RGB_COLORS);
        ReleaseDC(NULL, screen);
        DeleteObject(bitmap);
        if (rows != 495)
            return out;
        for (uint32_t v : raw)
            out.push_back(RGB(v >> 16 & 255, v >> 8 & 255, v & 255));
        return out;
    }

    char previous[MAX_PATH];
    std::string directory;
};

TEST_F(LogoTest, BuiltInResourceIs24BitsAt805By495) {
    HRSRC found = FindResourceA(GetModuleHandleA(NULL), "logo", (LPCSTR)RT_BITMAP);
    ASSERT_TRUE(found);
    const BITMAPINFOHEADER *header =
        (const BITMAPINFOHEADER *)LockResource(LoadResource(GetModuleHandleA(NULL), found));
    ASSERT_TRUE(header);
    EXPECT_EQ(header->biWidth, 805);
    EXPECT_EQ(header->biHeight, 495);
    EXPECT_EQ(header->biBitCount, 24);
    EXPECT_EQ(header->biCompression, (DWORD)BI_RGB);
}

TEST_F(LogoTest, WithoutAFileTheBuiltInPictureFillsTheClient) {
    load_and_paint();
    EXPECT_TRUE(app.gui.logo_bitmap);
    expect_builtin("no smartlogo.bmp");
}

TEST_F(LogoTest, FileOfKnownColoursIsStretchedAndRestretchedOnResize) {
    /* 57,600 bytes of pixels: read in more than one piece. */
    write_file("smartlogo.bmp", quadrant_file(160, 120, false));
    load_and_paint();
    EXPECT_EQ(app.gui.logo_width, 160);
    EXPECT_EQ(app.gui.logo_height, 120);
    EXPECT_EQ(app.gui.logo_file_image, nullptr) << "the file's bytes are released after conversion";
    EXPECT_EQ(app.gui.logo_file_block, (HGLOBAL)0);
    expect_quadrants("first display");

    SIZE before = client_size();
    SetWindowPos(app.gui.frame_window, NULL, 0, 0, 420, 330, SWP_NOZORDER | SWP_NOMOVE);
    harness_pump(300);
    SIZE smaller = client_size();
    ASSERT_LT(smaller.cx, before.cx);
    ASSERT_LT(smaller.cy, before.cy);
    expect_quadrants("after shrinking");

    SetWindowPos(app.gui.frame_window, NULL, 0, 0, 900, 700, SWP_NOZORDER | SWP_NOMOVE);
    harness_pump(300);
    SIZE larger = client_size();
    ASSERT_GT(larger.cx, smaller.cx);
    expect_quadrants("after growing");
}

TEST_F(LogoTest, TopDownFileIsShownTheRightWayUp) {
    write_file("smartlogo.bmp", quadrant_file(8, 6, true));
    load_and_paint();
    EXPECT_EQ(app.gui.logo_height, 6);
    expect_quadrants("top-down file");
}

TEST_F(LogoTest, CoreHeaderColourTableIsUsed) {
    write_file("smartlogo.bmp", core_palette_file());
    load_and_paint();
    EXPECT_EQ(app.gui.logo_width, 2);
    expect_quadrants("8-bit core file");
}

TEST_F(LogoTest, MalformedFilesFallBackToTheBuiltInPicture) {
    Bytes good = quadrant_file(8, 6, false);
    struct Case {
        const char *what;
        Bytes bytes;
    };
    std::vector<Case> cases;
    Bytes b = good;
    b[0] = 'X';
    cases.push_back({"not starting with BM", b});
    cases.push_back({"shorter than a file header", Bytes(good.begin(), good.begin() + 10)});
    cases.push_back({"truncated pixels", Bytes(good.begin(), good.end() - 1)});
    /* One header field of a good file changed: offset, width, value. */
    struct Field {
        const char *what;
        size_t at;
        int width;
        uint32_t value;
    } fields[] = {
        {"file size field 16", 2, 32, 16},
        {"header size 13", 14, 32, 13},
        {"header larger than the image", 14, 32, 4000},
        {"colours used past the end", 46, 32, 0xFFFFFFFF}, /* with 8 bits, below */
        {"zero width", 18, 32, 0},
        {"7 bits per pixel", 28, 16, 7},
        {"run-length compressed", 30, 32, 1},
    };
    for (const Field &f : fields) {
        b = good;
        if (f.at == 46)
            put16(b, 28, 8);
        (f.width == 16 ? put16 : put32)(b, f.at, f.value);
        cases.push_back({f.what, b});
    }
    cases.push_back({"empty file", Bytes()});
    for (const Case &c : cases) {
        write_file("smartlogo.bmp", c.bytes);
        logo_load();
        EXPECT_EQ(app.gui.logo_width, 805) << c.what;
        EXPECT_EQ(app.gui.logo_height, 495) << c.what;
        EXPECT_EQ(app.gui.logo_file_block, (HGLOBAL)0) << c.what;
    }
    /* The last one, painted, shows the built-in picture. */
    repaint();
    expect_builtin("malformed file");
}

TEST_F(LogoTest, FileIsReadWhileOthersReadButNotWhileOneWrites) {
    write_file("smartlogo.bmp", quadrant_file(4, 4, false));
    HGLOBAL block = 0;
    unsigned char *image = nullptr;
    HANDLE reader =
        CreateFileA("smartlogo.bmp", GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_EQ(dib_load_file("smartlogo.bmp", &block, &image), 1);
    EXPECT_TRUE(image);
    dib_release(&block, &image);
    CloseHandle(reader);

    HANDLE writer = CreateFileA("smartlogo.bmp", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(dib_load_file("smartlogo.bmp", &block, &image), 0);
    EXPECT_EQ(image, nullptr);
    EXPECT_EQ(block, (HGLOBAL)0);
    CloseHandle(writer);
}
