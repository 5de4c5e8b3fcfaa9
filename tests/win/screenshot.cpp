// Screenshots of windows for the record. The window is brought to the top and repainted, then
// its pixels are put into a bitmap and written as a bottom-up 24-bit BMP.
#include "screenshot.h"

#include <stdio.h>
#include <stdlib.h>

#include <vector>

static std::string ScreenshotFolder()
{
    const char* folder = getenv("TQ_SCREENSHOT_DIR");
    if (folder == nullptr || *folder == '\0')
        return std::string();
    std::string path = folder;
    if (path[0] == '/')
        path = "Z:" + path;  // Wine maps the host's root to Z:
    for (char& c : path)
        if (c == '/')
            c = '\\';
    CreateDirectoryA(path.c_str(), nullptr);
    return path + "\\";
}

std::string SaveWindowScreenshot(HWND window, const char* name)
{
    std::string folder = ScreenshotFolder();
    if (folder.empty())
        return std::string();
    SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    GdiFlush();

    // The client area comes from the screen as the display shows it. Without a window manager
    // nobody draws the frame and caption on the display, so they are drawn here by the system's
    // own DrawEdge and DrawCaption from the window's real caption text.
    RECT rect;
    GetWindowRect(window, &rect);
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    RECT client;
    GetClientRect(window, &client);
    POINT origin = { 0, 0 };
    ClientToScreen(window, &origin);
    int clientX = origin.x - rect.left;
    int clientY = origin.y - rect.top;

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    RECT frame = { 0, 0, width, height };
    FillRect(memory, &frame, GetSysColorBrush(COLOR_3DFACE));
    DrawEdge(memory, &frame, EDGE_RAISED, BF_RECT);
    RECT caption = { clientX, clientX, clientX + client.right, clientY - 1 };
    constexpr UINT GradientCaption = 0x20;  // DC_GRADIENT
    DrawCaption(window, memory, &caption, DC_ACTIVE | DC_TEXT | GradientCaption);
    BitBlt(memory, clientX, clientY, client.right, client.bottom, screen, origin.x, origin.y, SRCCOPY);
    SelectObject(memory, previous);

    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;  // bottom-up, as a .bmp file stores it
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    int stride = (width * 3 + 3) & ~3;
    std::vector<unsigned char> pixels((size_t)stride * height);
    GetDIBits(memory, bitmap, 0, height, pixels.data(), (BITMAPINFO*)&header, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    std::string path = folder + name + ".bmp";
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr)
        return std::string();
    BITMAPFILEHEADER fileHeader = {};
    fileHeader.bfType = 0x4D42;  // "BM"
    fileHeader.bfOffBits = sizeof fileHeader + sizeof header;
    fileHeader.bfSize = fileHeader.bfOffBits + (DWORD)pixels.size();
    fwrite(&fileHeader, sizeof fileHeader, 1, file);
    fwrite(&header, sizeof header, 1, file);
    fwrite(pixels.data(), 1, pixels.size(), file);
    fclose(file);
    return path;
}
