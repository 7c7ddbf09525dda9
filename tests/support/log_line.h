// A line of the engine's search log as the engine makes it from its layouts
// (log_texts.h), without the stamp: LogLine(LOGTEXT_WORKER_PREFIX
// LOGTEXT_RETRY, 1902, 2, 1902). The compiler checks the arguments.
#pragma once

#include "engine/wire/log_texts.h"

#include <cstdarg>
#include <cstdio>
#include <string>

inline std::string LogLine(const char* layout, ...) __attribute__((format(printf, 1, 2)));
inline std::string LogLine(const char* layout, ...)
{
    char line[1024];
    va_list arguments;
    va_start(arguments, layout);
    std::vsnprintf(line, sizeof line, layout, arguments);
    va_end(arguments);
    return line;
}
