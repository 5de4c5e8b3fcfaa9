// The Meter control: a self-painted bar that shows how much of the work is done, with the share
// as a centred percentage. Each window keeps its range and position in its extra bytes; both
// are stored as 32-bit values but read back as unsigned 16-bit ones, so only the low 16 bits
// count. The done part is drawn in the highlight colours, the rest in the same colours swapped,
// with one text spanning both.
#include "ui/ui.h"

#include "res/resource.h"

constexpr char MeterClassName[] = "Meter";
constexpr int MeterExtraBytes = 8;
constexpr int RangeIndex = 0;      // window extra bytes: range, 32-bit
constexpr int PositionIndex = 4;   // window extra bytes: position, 32-bit
constexpr WPARAM InitialRange = 100;
constexpr WPARAM InitialPosition = 50;
constexpr UINT TextAlignment = TA_CENTER | TA_TOP;
constexpr UINT TextOptions = ETO_OPAQUE | ETO_CLIPPED;

ATOM RegisterMeterClass(HINSTANCE instance)
{
    WNDCLASSA meterClass;
    meterClass.style = CS_HREDRAW | CS_VREDRAW;
    meterClass.lpfnWndProc = MeterWndProc;
    meterClass.cbClsExtra = 0;
    meterClass.cbWndExtra = MeterExtraBytes;
    meterClass.hInstance = instance;
    meterClass.hIcon = nullptr;
    meterClass.hCursor = LoadCursorA(nullptr, (LPCSTR)IDC_ARROW);
    meterClass.hbrBackground = nullptr; // every pixel is painted by MeterPaint
    meterClass.lpszMenuName = nullptr;
    meterClass.lpszClassName = MeterClassName;
    return RegisterClassA(&meterClass);
}

// Stores a new range or position and repaints at once, so that progress shows even while the
// working code is not dispatching messages.
static LRESULT MeterSetValue(HWND window, int index, WPARAM value)
{
    SetWindowLongA(window, index, (LONG)(DWORD)value);
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);
    return 0;
}

static LRESULT MeterGetValue(HWND window, int index)
{
    return (WORD)GetWindowLongA(window, index);
}

static LRESULT MeterOnCreate(HWND window)
{
    SendMessageA(window, MTR_SETRANGE, InitialRange, 0);
    SendMessageA(window, MTR_SETPOS, InitialPosition, 0);
    return 0;
}

// Paints the whole client area into `dc`: the done part from the left edge to P x W / R, the
// remaining part from there to the right edge, and the percentage P x 100 / R centred across
// both. A range of 0 shows 0%. A position above the range gives more than 100% and a done part
// that covers the whole control; the remaining part is then empty.
static void MeterPaint(HWND window, HDC dc)
{
    int range = (int)SendMessageA(window, MTR_GETRANGE, 0, 0);
    int position = (int)SendMessageA(window, MTR_GETPOS, 0, 0);
    if (range == 0) {
        position = 0;
        range = 1;
    }
    char text[16];
    int length = wsprintfA(text, "%d%%", position * 100 / range);

    SetTextAlign(dc, TextAlignment);
    SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
    SetBkColor(dc, GetSysColor(COLOR_HIGHLIGHT));

    RECT client;
    GetClientRect(window, &client);
    int width = client.right;
    int height = client.bottom;
    RECT done = { 0, 0, position * width / range, height };

    SIZE letter;
    GetTextExtentPoint32A(dc, "X", 1, &letter);
    int x = width / 2;
    int y = (height - letter.cy) / 2;

    ExtTextOutA(dc, x, y, TextOptions, &done, text, length, nullptr);

    // ExtTextOut would order a reversed rectangle and paint it, so a done part past the right
    // edge leaves the remaining part empty instead.
    RECT remaining = { done.right < width ? done.right : width, 0, width, height };
    COLORREF doneText = SetTextColor(dc, GetBkColor(dc));
    SetBkColor(dc, doneText);
    if (remaining.left < remaining.right)
        ExtTextOutA(dc, x, y, TextOptions, &remaining, text, length, nullptr);
}

static LRESULT MeterOnPaint(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    MeterPaint(window, dc);
    EndPaint(window, &paint);
    return 0;
}

LRESULT CALLBACK MeterWndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_CREATE:
        return MeterOnCreate(window);
    case MTR_SETRANGE:
        return MeterSetValue(window, RangeIndex, wParam);
    case MTR_GETRANGE:
        return MeterGetValue(window, RangeIndex);
    case MTR_SETPOS:
        return MeterSetValue(window, PositionIndex, wParam);
    case MTR_GETPOS:
        return MeterGetValue(window, PositionIndex);
    case WM_GETDLGCODE:
        return DLGC_STATIC;
    case WM_PAINT:
        return MeterOnPaint(window);
    case WM_PRINTCLIENT:
        MeterPaint(window, (HDC)wParam);
        return 0;
    default:
        return DefWindowProcA(window, msg, wParam, lParam);
    }
}
