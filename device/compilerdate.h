#pragma once

#include <QString>

// Turns the compiler's date text into "yyyy - MM - dd". The compiler writes "Jun 27 2025", with a
// blank instead of a leading zero below the 10th ("Jun  7 2025"). Empty when neither form parses.
QString formatCompilerDate(const QString& text);
