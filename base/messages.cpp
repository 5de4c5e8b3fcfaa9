// Message texts from the string table. A text that begins with "!" continues with the text of the
// next ID; LoadMessage joins such chains into one of three buffers used in turn, so a caller may
// hold up to three texts at once.
#include "base/base.h"

#include <stdarg.h>
#include <string.h>

constexpr int JoinedTextLimit = 512;      // characters of a joined text
constexpr int ResultBufferSize = 516;
constexpr int PieceBufferSize = 514;      // one entry read as it stands, NUL included
constexpr int FormatBufferSize = 512;
constexpr int FormattedTextSize = 516;
constexpr int ResultBufferCount = 3;

static char ResultBuffers[ResultBufferCount][ResultBufferSize];
static int NextResultBuffer;

static void ShowInternalError(const char* format, UINT id)
{
    char text[128];
    wsprintfA(text, format, (int)id);
    MessageBoxA(nullptr, text, nullptr, MB_ICONERROR);
}

char* LoadMessage(UINT id)
{
    char* result = ResultBuffers[NextResultBuffer];
    NextResultBuffer = (NextResultBuffer + 1) % ResultBufferCount;
    result[0] = '\0';

    char piece[PieceBufferSize];
    for (;;) {
        int pieceLength = LoadStringA(ModuleInstance, id, piece, PieceBufferSize);
        if (pieceLength <= 0) {
            ShowInternalError("Internal error: string resource not found: %d", id);
            return result;
        }
        int joinedLength = (int)strlen(result);
        if (joinedLength + pieceLength > JoinedTextLimit) {
            ShowInternalError("Internal error: string resource too long: %d", id);
            return result;
        }
        if (piece[0] != '!') {
            memcpy(result + joinedLength, piece, pieceLength + 1);
            return result;
        }
        memcpy(result + joinedLength, piece + 1, pieceLength); // the "!" dropped, NUL kept
        ++id;
    }
}

int ShowMessage(HWND owner, UINT id, UINT type, ...)
{
    char format[FormatBufferSize];
    if (LoadStringA(ModuleInstance, id, format, FormatBufferSize) <= 0)
        format[0] = '\0';

    // wvsprintfA writes at most 1024 bytes; format into room for that and cut to the box's
    // buffer, so an over-long placeholder is shortened instead of overrunning it.
    char formatted[1025];
    va_list args;
    va_start(args, type);
    wvsprintfA(formatted, format, args);
    va_end(args);
    char text[FormattedTextSize];
    lstrcpynA(text, formatted, FormattedTextSize);

    return MessageBoxA(owner, text, SetupTitle, type);
}
