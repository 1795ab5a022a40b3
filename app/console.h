#pragma once

#include <QString>

#include <cstdio>

// Writes a message for the user on a standard stream at once, in the system's encoding.
inline void print(std::FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}
