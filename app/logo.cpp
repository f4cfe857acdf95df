/*
 * logo.cpp: the logo behind the MDI children.
 *
 * At start-up the logo comes from "smartlogo.bmp" in the current directory
 * when that file is a usable bitmap (app/dib.h says which are), else from the
 * built-in bitmap resource "logo"; a refused file falls back silently, as a
 * missing one does. The picture is converted once into a bitmap compatible
 * with the screen, so that each erase of the MDI client's background is a
 * single stretched copy over the whole client area. The frame releases it
 * when it is destroyed. GUI thread only.
 */
#include "app/logo.h"

#include "app/app.h"
#include "app/app_state.h"
#include "app/dib.h"
#include "resources/names.h"

static const DWORD DIB_READ_PIECE = 32768; /* bytes per read */

/* Reads exactly size bytes in pieces of at most DIB_READ_PIECE bytes. */
static int dib_read(HANDLE file, unsigned char *buffer, size_t size) {
    while (size > 0) {
        DWORD want = size < DIB_READ_PIECE ? (DWORD)size : DIB_READ_PIECE;
        DWORD got = 0;
        if (!ReadFile(file, buffer, want, &got, NULL) || got != want)
            return 0;
        buffer += got;
        size -= got;
    }
    return 1;
}

/* The number of bytes to read after the file header, 0 when the file is
   refused before any allocation. */
static size_t dib_read_file_header(HANDLE file) {
    LARGE_INTEGER length;
    unsigned char header[DIB_FILE_HEADER_SIZE];

    if (!GetFileSizeEx(file, &length) || length.QuadPart < 0)
        return 0;
    if (!dib_read(file, header, sizeof header))
        return 0;
    return dib_file_image_size(header, (uint64_t)length.QuadPart);
}

void dib_release(HGLOBAL *block, unsigned char **image) {
    if (*block) {
        if (*image)
            GlobalUnlock(*block);
        GlobalFree(*block);
    }
    *block = 0;
    *image = 0;
}

int dib_load_file(const char *path, HGLOBAL *block, unsigned char **image) {
    DibInfo info;

    *block = 0;
    *image = 0;
    /* Others may read the file meanwhile, but not change it under us. */
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    size_t size = dib_read_file_header(file);
    if (size)
        *block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (*block)
        *image = (unsigned char *)GlobalLock(*block);
    int ok = *image && dib_read(file, *image, size) && dib_parse(*image, size, &info);
    CloseHandle(file);
    if (!ok)
        dib_release(block, image);
    return ok;
}

int dib_to_bitmap(const unsigned char *image, HDC screen, HBITMAP bitmap, int width, int height) {
    /* A BITMAPINFO: a 40-byte header then colour entries or masks, aligned. */
    union {
        BITMAPINFOHEADER header;
        unsigned char bytes[DIB_FORMAT_SIZE];
    } format;
    int lines = (int)dib_height(image);

    /* Never read rows or columns past the image. */
    if (height < lines)
        lines = height;
    if (width > (int)dib_width(image))
        width = (int)dib_width(image);
    dib_format(image, format.bytes);
    SetMapMode(screen, MM_TEXT);
    HDC memory = CreateCompatibleDC(screen);
    if (!memory)
        return 0;
    HGDIOBJ old = SelectObject(memory, bitmap);
    SetMapMode(memory, GetMapMode(screen));
    int copied = SetDIBitsToDevice(memory, 0, 0, (DWORD)width, (DWORD)lines, 0, 0, 0, (UINT)lines,
                                   dib_bits(image), (BITMAPINFO *)&format, DIB_RGB_COLORS);
    SelectObject(memory, old);
    DeleteDC(memory);
    return copied > 0 ? copied : 0;
}

void draw_stretched(HDC target, HBITMAP bitmap, int x, int y, int width, int height) {
    BITMAP shape;

    if (!GetObjectA(bitmap, sizeof shape, &shape))
        return;
    HDC memory = CreateCompatibleDC(target);
    if (!memory)
        return;
    HGDIOBJ old = SelectObject(memory, bitmap);
    SetMapMode(memory, GetMapMode(target));
    POINT size = {shape.bmWidth, shape.bmHeight};
    DPtoLP(target, &size, 1);
    POINT origin = {0, 0};
    DPtoLP(memory, &origin, 1);
    /* Colour pictures shrink by dropping rows, not by merging them darker. */
    int old_mode = SetStretchBltMode(target, COLORONCOLOR);
    StretchBlt(target, x, y, width, height, memory, origin.x, origin.y, size.x, size.y, SRCCOPY);
    SetStretchBltMode(target, old_mode);
    SelectObject(memory, old);
    DeleteDC(memory);
}

void paint_logo(HWND client) {
    /* The client's own context: the erase message's context is clipped to
       the newly exposed part, and the whole picture is restretched. */
    HDC dc = GetDC(client);
    RECT area;

    if (!dc)
        return;
    GetWindowRect(client, &area);
    if (app.gui.logo_bitmap)
        draw_stretched(dc, app.gui.logo_bitmap, 0, 0, area.right - area.left,
                       area.bottom - area.top);
    ReleaseDC(client, dc);
}

/* The logo from smartlogo.bmp; 0 when the file is missing or refused, or
   when its pixels cannot be converted. */
static int logo_from_file(void) {
    if (!dib_load_file("smartlogo.bmp", &app.gui.logo_file_block, &app.gui.logo_file_image))
        return 0;
    int converted = 1;
    app.gui.logo_width = (int)dib_width(app.gui.logo_file_image);
    app.gui.logo_height = (int)dib_height(app.gui.logo_file_image);
    HDC screen = GetDC(NULL);
    app.gui.logo_bitmap = CreateCompatibleBitmap(screen, app.gui.logo_width, app.gui.logo_height);
    if (app.gui.logo_bitmap && !dib_to_bitmap(app.gui.logo_file_image, screen, app.gui.logo_bitmap,
                                              app.gui.logo_width, app.gui.logo_height)) {
        DeleteObject(app.gui.logo_bitmap);
        app.gui.logo_bitmap = 0;
        converted = 0;
    }
    ReleaseDC(NULL, screen);
    /* Nothing reads the file's bytes after the conversion. */
    dib_release(&app.gui.logo_file_block, &app.gui.logo_file_image);
    return converted;
}

void logo_load(void) {
    BITMAP shape;

    logo_release();
    if (logo_from_file())
        return;
    app.gui.logo_bitmap = LoadBitmapA(app.gui.instance, RES_BITMAP_LOGO);
    if (app.gui.logo_bitmap && GetObjectA(app.gui.logo_bitmap, sizeof shape, &shape)) {
        app.gui.logo_width = shape.bmWidth;
        app.gui.logo_height = shape.bmHeight;
    }
}

void logo_release(void) {
    if (app.gui.logo_bitmap)
        DeleteObject(app.gui.logo_bitmap);
    app.gui.logo_bitmap = 0;
    app.gui.logo_width = 0;
    app.gui.logo_height = 0;
    dib_release(&app.gui.logo_file_block, &app.gui.logo_file_image);
}
