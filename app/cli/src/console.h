// Standard error as the job's log: status lines, the library's log text and progress. On a
// terminal progress is a bar redrawn in place; anywhere else (a pipe, a file, a production
// line's logger) it is a plain line at every tenth, so that logs stay short and readable.
#pragma once

#include <cstdio>
#include <string>

class Console {
public:
    // terminal: draw a bar; otherwise plain lines.
    Console(std::FILE* stream, bool terminal);
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // Whether standard error is a terminal that can redraw a line.
    static bool StandardErrorIsTerminal();

    // A job's step text: a line of its own.
    void Status(const std::string& text);
    // A piece of log text as the jobs and the library post it: CR LF line breaks, and pieces
    // that continue the current line (the retry marks "." and "OK"). Shown a whole line at a
    // time so that the bar never splits one.
    void Log(const std::string& text);
    // The tool's own remarks (cancelling, refusals, what the demo does): a line of its own.
    void Note(const std::string& text);
    // 0 to 100. A status line or a value below the last one starts a new bar: the next chunk,
    // or the burn after the transfer.
    void Progress(int percent);
    // Ends a job's output: the unfinished log line and the bar are put away.
    void Finish();

private:
    void Emit(const std::string& line);
    void FlushPartial();
    // The bar of the current step is done with.
    void EndPhase();
    void ClearBar();
    void DrawBar();

    std::FILE* stream_;
    bool terminal_;
    std::string partial_;  // log text after the last line break
    int percent_ = -1;     // -1: no progress in this phase yet
    int shownPlain_ = 0;   // the last tenth printed as a plain line
    bool barShown_ = false;
};
