// Names of the four log levels, by level number: the one table every log uses (the log tables,
// their files and the command line). Plain C++, so that the Qt-free tools share it.
#pragma once

constexpr int kLogLevelCount = 4;
constexpr const char *kLogLevelNames[kLogLevelCount] = {"DEBUG", "ERROR", "WARN", "INFO"};

// The level's name, or null outside 0..3.
constexpr const char *logLevelName(int level)
{
    return level >= 0 && level < kLogLevelCount ? kLogLevelNames[level] : nullptr;
}
