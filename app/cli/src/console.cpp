#include "console.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr int kBarWidth = 40;
// Plain progress lines are printed at every tenth.
constexpr int kPlainStep = 10;
// Carriage return, then erase to the end of the line.
constexpr const char* kClearLine = "\r\033[K";

}  // namespace

Console::Console(std::FILE* stream, bool terminal) : stream_(stream), terminal_(terminal) {}

bool Console::StandardErrorIsTerminal()
{
    const char* term = std::getenv("TERM");
    return ::isatty(STDERR_FILENO) == 1 && term != nullptr && std::strcmp(term, "dumb") != 0;
}

void Console::Emit(const std::string& line)
{
    ClearBar();
    std::fputs(line.c_str(), stream_);
    std::fputc('\n', stream_);
    DrawBar();
    std::fflush(stream_);
}

void Console::FlushPartial()
{
    if (!partial_.empty()) {
        const std::string line = std::move(partial_);
        partial_.clear();
        Emit(line);
    }
}

void Console::Status(const std::string& text)
{
    FlushPartial();
    EndPhase();
    Emit(text);
}

void Console::Note(const std::string& text)
{
    FlushPartial();
    Emit(text);
}

void Console::Log(const std::string& text)
{
    for (char c : text) {
        if (c == '\r') {
            continue;
        }
        if (c != '\n') {
            partial_.push_back(c);
            continue;
        }
        // Error texts end with CR LF and library messages begin with one: together they would
        // leave empty lines that say nothing, so an empty line is not shown.
        FlushPartial();
    }
}

void Console::Progress(int percent)
{
    if (percent < 0) {
        percent = 0;
    }
    if (percent > 100) {
        percent = 100;
    }
    if (percent < percent_) {
        EndPhase();
    }
    // A transfer reports every packet; the bar only changes with the percentage.
    if (terminal_ && barShown_ && percent == percent_) {
        return;
    }
    percent_ = percent;
    if (terminal_) {
        DrawBar();
        std::fflush(stream_);
        return;
    }
    const int tenth = percent / kPlainStep * kPlainStep;
    if (tenth > shownPlain_) {
        shownPlain_ = tenth;
        FlushPartial();
        std::fprintf(stream_, "%3d%%\n", tenth);
        std::fflush(stream_);
    }
}

void Console::Finish()
{
    FlushPartial();
    EndPhase();
    std::fflush(stream_);
}

void Console::EndPhase()
{
    if (terminal_ && barShown_) {
        // A bar that got anywhere stays as it ended; an empty one says nothing.
        std::fputs(percent_ > 0 ? "\n" : kClearLine, stream_);
    }
    barShown_ = false;
    percent_ = -1;
    shownPlain_ = 0;
}

void Console::ClearBar()
{
    if (terminal_ && barShown_) {
        std::fputs(kClearLine, stream_);
        barShown_ = false;
    }
}

void Console::DrawBar()
{
    if (!terminal_ || percent_ < 0) {
        return;
    }
    char bar[kBarWidth + 1];
    const int filled = percent_ * kBarWidth / 100;
    std::memset(bar, '#', static_cast<size_t>(filled));
    std::memset(bar + filled, '.', static_cast<size_t>(kBarWidth - filled));
    bar[kBarWidth] = '\0';
    std::fprintf(stream_, "%s[%s] %3d%%", kClearLine, bar, percent_);
    barShown_ = true;
}
