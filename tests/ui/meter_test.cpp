// The Meter control, tested the way Wine tests its progress bar: values read back through the
// messages, an immediate repaint without erasing, and the pixels of a paint into a memory DC.
#include "res/resource.h"
#include "ui/ui.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <vector>

namespace {

constexpr int MeterWidth = 200;
constexpr int MeterHeight = 20;

void RegisterOnce()
{
    static bool registered = false;
    if (!registered) {
        ASSERT_NE(0, RegisterMeterClass(GetModuleHandleA(nullptr)));
        registered = true;
    }
}

// A borderless popup, so that the client area is exactly MeterWidth x MeterHeight.
HWND CreateMeter(DWORD visible = 0)
{
    return CreateWindowExA(0, "meter", "", WS_POPUP | visible, 50, 50, MeterWidth, MeterHeight,
                           nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

struct Image {
    int Width;
    int Height;
    std::vector<COLORREF> Pixels;
    COLORREF At(int x, int y) const { return Pixels[(size_t)y * Width + x]; }
};

// Paints the Meter with WM_PRINTCLIENT into a memory DC prefilled with a colour the Meter never
// uses, so that any pixel it leaves alone shows.
Image PrintMeter(HWND meter)
{
    constexpr COLORREF Poison = RGB(1, 2, 3);
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, MeterWidth, MeterHeight);
    ReleaseDC(nullptr, screen);
    HGDIOBJ previous = SelectObject(dc, bitmap);
    HBRUSH poison = CreateSolidBrush(Poison);
    RECT all = { 0, 0, MeterWidth, MeterHeight };
    FillRect(dc, &all, poison);
    DeleteObject(poison);

    SendMessageA(meter, WM_PRINTCLIENT, (WPARAM)dc, PRF_CLIENT);

    Image image = { MeterWidth, MeterHeight, {} };
    for (int y = 0; y < MeterHeight; ++y)
        for (int x = 0; x < MeterWidth; ++x)
            image.Pixels.push_back(GetPixel(dc, x, y));
    SelectObject(dc, previous);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return image;
}

// Coverage of a black text drawn on white with the DC's default font, centred on the control:
// the independent picture of what the Meter must show. 0 is no ink, 255 full ink; the default
// font may be antialiased, so edges have the values between.
std::vector<int> ReferenceCoverage(const char* text)
{
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, MeterWidth, MeterHeight);
    ReleaseDC(nullptr, screen);
    HGDIOBJ previous = SelectObject(dc, bitmap);
    RECT all = { 0, 0, MeterWidth, MeterHeight };
    FillRect(dc, &all, (HBRUSH)GetStockObject(WHITE_BRUSH));
    SIZE letter;
    GetTextExtentPoint32A(dc, "X", 1, &letter);
    SetTextAlign(dc, TA_CENTER | TA_TOP);
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkMode(dc, TRANSPARENT);
    TextOutA(dc, MeterWidth / 2, (MeterHeight - letter.cy) / 2, text, lstrlenA(text));
    std::vector<int> coverage;
    for (int y = 0; y < MeterHeight; ++y)
        for (int x = 0; x < MeterWidth; ++x)
            coverage.push_back(255 - GetGValue(GetPixel(dc, x, y)));
    SelectObject(dc, previous);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return coverage;
}

bool Between(int value, int from, int to)
{
    constexpr int Slack = 2;
    return value >= (from < to ? from : to) - Slack && value <= (from < to ? to : from) + Slack;
}

// A text pixel with `coverage` (0 to 255) of `text` over `background`. Antialiasing blends with
// its own gamma, so only this much is certain: a pixel without ink is the background, every
// channel lies between background and text, a mostly covered pixel is near the text colour and
// a half covered one differs from the background.
bool PlausibleTextPixel(COLORREF actual, COLORREF background, COLORREF text, int coverage)
{
    if (coverage == 0)
        return actual == background;
    if (!Between(GetRValue(actual), GetRValue(background), GetRValue(text))
        || !Between(GetGValue(actual), GetGValue(background), GetGValue(text))
        || !Between(GetBValue(actual), GetBValue(background), GetBValue(text)))
        return false;
    constexpr int Near = 64;
    if (coverage >= 192)
        return abs(GetRValue(actual) - GetRValue(text)) <= Near && abs(GetGValue(actual) - GetGValue(text)) <= Near
            && abs(GetBValue(actual) - GetBValue(text)) <= Near;
    return coverage < 96 || actual != background;
}

// Checks one painted Meter: left of `barWidth` the highlight colour with text in highlight-text
// colour, right of it the two swapped, and the text's pixels where `text` belongs.
void ExpectMeterPicture(const Image& image, int barWidth, const char* text)
{
    const COLORREF bar = GetSysColor(COLOR_HIGHLIGHT);
    const COLORREF field = GetSysColor(COLOR_HIGHLIGHTTEXT);
    ASSERT_NE(bar, field);
    std::vector<int> coverage = ReferenceCoverage(text);
    int inkCount = 0;
    int wrong = 0;
    std::string firstWrong;
    for (int y = 0; y < image.Height; ++y) {
        for (int x = 0; x < image.Width; ++x) {
            bool inDone = x < barWidth;
            int ink = coverage[(size_t)y * image.Width + x];
            inkCount += ink > 127;
            COLORREF background = inDone ? bar : field;
            COLORREF actual = image.At(x, y);
            bool good = PlausibleTextPixel(actual, background, inDone ? field : bar, ink);
            if (!good && wrong++ == 0)
                firstWrong = "x=" + std::to_string(x) + " y=" + std::to_string(y);
        }
    }
    EXPECT_GT(inkCount, 10) << "reference text \"" << text << "\" drew nothing";
    EXPECT_EQ(0, wrong) << "pixels differ from \"" << text << "\" with a bar of " << barWidth
                        << " pixels, first at " << firstWrong;
}

class MeterTest : public testing::Test {
protected:
    void SetUp() override
    {
        RegisterOnce();
        meter = CreateMeter();
        ASSERT_NE(nullptr, meter);
    }
    void TearDown() override { DestroyWindow(meter); }
    HWND meter = nullptr;
};

TEST_F(MeterTest, StartsAtHalfOfOneHundred)
{
    EXPECT_EQ(100, SendMessageA(meter, MTR_GETRANGE, 0, 0));
    EXPECT_EQ(50, SendMessageA(meter, MTR_GETPOS, 0, 0));
    ExpectMeterPicture(PrintMeter(meter), MeterWidth / 2, "50%");
}

TEST_F(MeterTest, KeepsWholeValuesButReadsBackTheLow16Bits)
{
    EXPECT_EQ(0, SendMessageA(meter, MTR_SETRANGE, 0x12345, 0));
    EXPECT_EQ(0, SendMessageA(meter, MTR_SETPOS, 0xABCDE, 0));
    EXPECT_EQ(0x2345, SendMessageA(meter, MTR_GETRANGE, 0, 0));
    EXPECT_EQ(0xBCDE, SendMessageA(meter, MTR_GETPOS, 0, 0));
    // The stored values are the whole 32 bits written.
    EXPECT_EQ(0x12345, GetWindowLongA(meter, 0));
    EXPECT_EQ(0xABCDE, GetWindowLongA(meter, 4));

    // Read back as unsigned: 0xFFFF is 65535, not -1.
    SendMessageA(meter, MTR_SETRANGE, 0xFFFF, 0);
    EXPECT_EQ(65535, SendMessageA(meter, MTR_GETRANGE, 0, 0));
}

// What a range and a position show: the bar's width in pixels and the percentage, both cut
// down to whole numbers.
TEST_F(MeterTest, PicturesOfRangeAndPosition)
{
    struct Picture {
        unsigned Range, Position;
        int BarWidth;
        const char* Text;
    };
    const Picture pictures[] = {
        {0, 30, 0, "0%"},                             // range 0: nothing done
        {0x10000, 10, 0, "0%"},                       // only the low 16 bits count: range 0
        {3, 1, MeterWidth / 3, "33%"},                // 66 pixels
        {1000, 999, 999 * MeterWidth / 1000, "99%"},  // 199 pixels
        {40, 40, MeterWidth, "100%"},
        {40, 80, MeterWidth, "200%"},                 // beyond the range, within the control
    };
    for (const Picture& picture : pictures) {
        SCOPED_TRACE(std::to_string(picture.Position) + " of " + std::to_string(picture.Range));
        SendMessageA(meter, MTR_SETRANGE, picture.Range, 0);
        SendMessageA(meter, MTR_SETPOS, picture.Position, 0);
        EXPECT_EQ((LRESULT)(picture.Range & 0xFFFF), SendMessageA(meter, MTR_GETRANGE, 0, 0));
        ExpectMeterPicture(PrintMeter(meter), picture.BarWidth, picture.Text);
    }
}

// Counts what reaches the Meter while a value is set, to see that it paints before the send
// returns and never asks for its background to be erased.
WNDPROC OriginalMeterProc;
int PaintCount;
int EraseCount;

LRESULT CALLBACK CountingMeterProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_PAINT)
        ++PaintCount;
    if (msg == WM_ERASEBKGND)
        ++EraseCount;
    return CallWindowProcA(OriginalMeterProc, window, msg, wParam, lParam);
}

TEST(MeterRepaint, SettingAValuePaintsAtOnceWithoutErasing)
{
    RegisterOnce();
    HWND meter = CreateMeter(WS_VISIBLE);
    ASSERT_NE(nullptr, meter);
    UpdateWindow(meter);
    OriginalMeterProc = (WNDPROC)SetWindowLongPtrA(meter, GWLP_WNDPROC, (LONG_PTR)CountingMeterProc);

    for (UINT msg : { MTR_SETPOS, MTR_SETRANGE }) {
        PaintCount = 0;
        EraseCount = 0;
        SendMessageA(meter, msg, 70, 0);
        EXPECT_EQ(1, PaintCount) << msg;
        EXPECT_EQ(0, EraseCount) << msg;
        RECT pending;
        EXPECT_FALSE(GetUpdateRect(meter, &pending, FALSE)) << msg;
    }

    // Reading a value paints nothing.
    PaintCount = 0;
    SendMessageA(meter, MTR_GETPOS, 0, 0);
    SendMessageA(meter, MTR_GETRANGE, 0, 0);
    EXPECT_EQ(0, PaintCount);
    DestroyWindow(meter);
}

}  // namespace
