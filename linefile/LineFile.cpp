#include "linefile/LineFile.h"

#include "common/IDebugLog.h"
#include "linefile/CodePage.h"
#include "linefile/OwnFiles.h"

#include <exception>
#include <limits>
#include <new>

namespace {

const char* const kOwnFileRefusal = "one of Linefold's own files";

// A window of count empty slots, or null when it cannot be had. The size
// check comes first so that a huge count cannot wrap around on 32 bits.
std::unique_ptr<LineWindow> AllocateWindow(int32_t count)
{
    size_t slots = static_cast<size_t>(count);
    if (slots > std::numeric_limits<size_t>::max() / sizeof(std::string) / 2)
        return nullptr;
    return std::unique_ptr<LineWindow>(new (std::nothrow) std::string[slots]);
}

// Every path the log shows passes through here: its control bytes written as
// \xNN, so that a line feed in a script's path cannot put a line of its own
// making into the log. Nothing else changes, so a double-byte character
// whose second byte is that of '\' stays whole.
std::string EscapeControlBytes(const std::string& text)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string shown;
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20)
            shown += {'\\', 'x', digits[byte >> 4], digits[byte & 0xF]};
        else
            shown += c;
    }
    return shown;
}

}  // namespace

LineFile::LineFile(bool readOnly, bool append, int32_t bufferSize)
    : readOnly(readOnly), append(append), cursor(readOnly ? bufferSize : 0), bufferSize(bufferSize)
{
}

LineFile::~LineFile()
{
    // The window goes first; lines still in it are not written.
    window.reset();
}

void LineFile::Fail(const char* action, const std::string& description)
{
    good = false;
    LogMessage("%s", action);
    LogMessage("  %s\n", description.c_str());
}

std::unique_ptr<LineFile> LineFile::Open(bool readOnly, bool append, int32_t bufferSize,
                                         const std::string& pathString, const Registration& registration)
{
    std::unique_ptr<LineFile> file(new (std::nothrow) LineFile(readOnly, append, bufferSize));
    if (file) {
        LockGuard guard(file->lock);
        file->Load(pathString, registration);
    } else {
        // As the script gave it: its generic form would need memory too. So
        // may its escaping; then the line goes without the path.
        try {
            LogMessage("Loading file '%s'...", EscapeControlBytes(pathString).c_str());
        } catch (const std::exception&) {
            LogMessage("Loading file...");
        }
        LogMessage("  Could not allocate memory for the file! Aborting load.");
    }
    return file;
}

void LineFile::Load(const std::string& pathString, const Registration& registration)
{
    try {
        if (TestPath(pathString) && MakeWindow())
            OpenStream(registration);
    } catch (const std::exception& error) {
        // A file this load created goes again.
        input.Close();
        output.Discard();
        Fail("  Error reading or creating file:", error.what());
    }
}

bool LineFile::TestPath(const std::string& pathString)
{
    if (!FilePath::FromScript(pathString, filePath)) {
        // Not text in the code page: its bytes as they came.
        good = false;
        LogMessage("Loading file '%s'...", EscapeControlBytes(pathString).c_str());
        LogMessage("  Path is not valid in the system code page! Aborting load.");
        return false;
    }
    if (const char* refusal = PathRefusal(filePath)) {
        good = false;
        LogMessage("Loading file '%s'...", EscapeControlBytes(filePath.Generic()).c_str());
        LogMessage("  Path not allowed: %s! Aborting load.", refusal);
        return false;
    }
    std::string existenceError;
    Existence existence = TestExistence(filePath, existenceError);
    LogMessage("Loading file '%s'...", EscapeControlBytes(filePath.Generic()).c_str());

    if (existence == Existence::Failed) {
        good = false;
        LogMessage("  Could not test whether file exists: %s", existenceError.c_str());
        return false;
    }
    if (existence == Existence::Missing && readOnly) {
        good = false;
        LogMessage("  File does not exist! Aborting load.");
        return false;
    }
    return true;
}

bool LineFile::MakeWindow()
{
    if (bufferSize <= 0) {
        good = false;
        LogMessage("  Illegal buffer size '%d'!", bufferSize);
        return false;
    }
    window = AllocateWindow(bufferSize);
    if (!window) {
        good = false;
        LogMessage("  Could not allocate buffer of size '%d'!", bufferSize);
        return false;
    }
    window[0] = EndMarker;
    return true;
}

// Opens exactly one stream. Whatever refuses the file comes before anything
// is emptied, and a refused file that the opening created goes again, but
// for one that another key holds by then.
void LineFile::OpenStream(const Registration& registration)
{
    // A file that is not there yet has no identity: its place is what counts.
    if (!readOnly && NamesOwnFile(filePath)) {
        good = false;
        LogMessage("  Path not allowed: %s! Aborting load.", kOwnFileRefusal);
        return;
    }
    bool opened = false;
    std::optional<std::string> loadedAs;
    for (int attempt = 1;; ++attempt) {
        opened = readOnly ? input.Open(filePath) : output.Open(filePath, append);
        if (!opened)
            break;
        identity = readOnly ? input.Identity() : output.Identity();
        if (registration.enter)
            loadedAs = registration.enter(identity, readOnly);
        // A file deleted (under another key, say) between the open and the
        // entry would take this load's lines nowhere: open anew, as a load
        // made after that delete would.
        if (loadedAs || readOnly || !output.Deleted() || attempt == 3)
            break;
        if (registration.leave)
            registration.leave();
        output.Abandon();
    }
    if (loadedAs) {
        // Two streams writing one file would interleave their lines. The
        // file stays as it is, even one this load created: the other key's.
        good = false;
        input.Close();
        output.Abandon();
        LogMessage("  File already loaded as '%s'! Aborting load.", EscapeControlBytes(*loadedAs).c_str());
    } else if (!readOnly && (opened ? IsOwnFile(identity) : OwnFileThere())) {
        // Not opened: on Windows the system refused it first (its hold admits
        // no writer).
        good = false;
        output.Discard();
        LogMessage("  Path not allowed: %s! Aborting load.", kOwnFileRefusal);
    } else if (!opened || (!readOnly && (output.Deleted() || (!append && !output.Empty())))) {
        good = false;
        output.Discard();
        LogMessage("  Could not open or create file.");
    } else {
        LogMessage("  File successfully loaded.");
    }
}

bool LineFile::OwnFileThere() const
{
    FileIdentity there;
    return IdentifyPath(filePath.Native(), there) && IsOwnFile(there);
}

LineFile::Closing LineFile::CloseTelling()
{
    try {
        if (readOnly) {
            if (input.IsOpen()) {
                ReportConversion();
                input.Close();
            }
        } else if (output.IsOpen()) {
            Flush();
            ReportConversion();
            // A failed write, now or in an earlier block, means lines the
            // script was told were taken did not reach the file.
            if (!output.Close()) {
                Fail("  Error closing file:", output.ErrorText());
                return Closing::LinesLost;
            }
        }
        good = false;
        LogMessage("Closed file '%s'.", EscapeControlBytes(filePath.Generic()).c_str());
        return Closing::Complete;
    } catch (const std::exception& error) {
        Fail("  Error closing file:", error.what());
        return Closing::Raised;
    }
}

bool LineFile::Remove(HeldFile& afterwards)
{
    if (good)
        return false;
    try {
        // The file is there (the load reached it): its identity says all,
        // whatever name reached it.
        if (IsOwnFile(identity)) {
            LogMessage("  Delete not allowed: %s!", kOwnFileRefusal);
            return false;
        }
        if (textmode::beforeDiskWork)
            textmode::beforeDiskWork(identity);
        std::string errorText;
        switch (RemoveFile(filePath, identity, errorText, afterwards)) {
        case Removal::Removed:
            return true;
        case Removal::Missing:
            return false;
        case Removal::Failed:
            break;
        }
        // The system's message, with the path in it.
        LogMessage("  Error deleting file:");
        LogMessage("  %s\n", EscapeControlBytes(errorText).c_str());
    } catch (const std::exception& error) {
        LogMessage("  Error deleting file:");
        LogMessage("  %s\n", error.what());
    }
    return false;
}

void LineFile::ReportRead(int32_t blockLines)
{
    uint64_t nulLine = input.FirstLineWithNul();
    if (nulLine != 0 && !nulReported) {
        nulReported = true;
        // Found in this block; lines from one that begins with BEL on never
        // reach the script.
        uint64_t slot = nulLine - 1 - (input.LinesRead() - static_cast<uint64_t>(blockLines));
        bool reached = slot < static_cast<uint64_t>(blockLines);
        for (uint64_t i = 0; i <= slot && reached; ++i)
            reached = !IsEndMarker(window[i]);
        if (reached)
            LogMessage("  Line %llu of '%s' holds a NUL byte: the script gets the line up to it.",
                       static_cast<unsigned long long>(nulLine), EscapeControlBytes(filePath.Generic()).c_str());
    }
    if (input.AtEnd())
        ReportConversion();
}

void LineFile::ReportConversion()
{
    uint64_t count = readOnly ? input.Unmapped() : output.Unencodable();
    if (count == 0 || conversionReported)
        return;
    conversionReported = true;
    std::string shown = EscapeControlBytes(filePath.Generic());
    std::string codePage = codepage::Name();
    if (readOnly)
        LogMessage("  UTF-16 text of '%s': %llu of its characters had no equivalent in code page %s and read as '%s'.",
                   shown.c_str(), static_cast<unsigned long long>(count), codePage.c_str(),
                   codepage::DefaultCharacter().c_str());
    else
        LogMessage("  UTF-16 text of '%s': %llu of the bytes written formed no character of code page %s and went in as U+FFFD.",
                   shown.c_str(), static_cast<unsigned long long>(count), codePage.c_str());
}
