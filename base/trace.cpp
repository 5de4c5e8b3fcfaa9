// Diagnostic trace. Steps mark themselves with fixed texts; the program installs no sink, so the
// texts are discarded, while a test can install one and check the order of the steps.
#include "base/base.h"

#include <stdarg.h>
#include <stdio.h>

static TraceSink CurrentSink;

void SetTraceSink(TraceSink sink)
{
    CurrentSink = sink;
}

void Trace(const char* format, ...)
{
    if (CurrentSink == nullptr)
        return;
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    CurrentSink(text);
}
