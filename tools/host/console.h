#pragma once

#include <QString>

class ProgressLine;

// zrhost's output. Results go to standard output, errors to standard error with the program's
// name; notes (what is going on) are left out under --quiet, details are shown only under
// --verbose. A progress line being redrawn is ended before anything else is written.
class Console {
public:
    Console(bool quiet, bool verbose);

    bool isQuiet() const { return m_quiet; }
    bool isVerbose() const { return m_verbose; }
    static bool isTerminal(int fd);

    void print(const QString& text); // a result, written as it is
    void line(const QString& text) { print(text + QLatin1Char('\n')); }
    void note(const QString& text);
    void detail(const QString& text);
    void error(const QString& text);

    // The progress line currently shown, if any; the caller owns it.
    void setProgress(ProgressLine* progress) { m_progress = progress; }

private:
    bool m_quiet;
    bool m_verbose;
    ProgressLine* m_progress = nullptr;
};
