// The block operations of a LineFile: the only code that moves lines between
// the window and the file stream.
#include "linefile/LineFile.h"

#include "common/IDebugLog.h"

#include <exception>

void LineFile::Refill()
{
    if (!good || !readOnly)
        return;
    try {
        TextInput::Read result = TextInput::Read::Line;
        for (cursor = 0; cursor < bufferSize; ++cursor) {
            result = input.ReadLine(window[cursor]);
            if (result != TextInput::Read::Line)
                break;
        }
        int32_t read = cursor;
        if (cursor < bufferSize)
            window[cursor] = EndMarker;
        cursor = 0;
        ReportRead(read);
        // A failed read is not the end of the file: say so.
        if (result == TextInput::Read::Failed)
            Fail("  Error reading file:", input.ErrorText());
    } catch (const std::exception& error) {
        // Keep the window consistent: nothing valid from slot 0 on.
        cursor = 0;
        window[0] = EndMarker;
        Fail("  Error reading file:", error.what());
    }
}

void LineFile::Flush()
{
    if (!good || readOnly)
        return;
    try {
        // Exactly the lines stored since the last flush are written; a line
        // that happens to begin with BEL is ordinary text here.
        int32_t stored = cursor < 0 ? 0 : (cursor > bufferSize ? bufferSize : cursor);
        for (cursor = 0; cursor < stored; ++cursor)
            output.WriteLine(window[cursor]);
        cursor = 0;
        if (output.Failed())
            Fail("  Error writing file:", output.ErrorText());
    } catch (const std::exception& error) {
        cursor = 0;
        Fail("  Error writing file:", error.what());
    }
}
