#include "app/LoadingProgress.h"

#include <osgDB/FileNameUtils>

#include <cstdio>

namespace Novaro
{

LoadingProgress::LoadingProgress(unsigned int total, Clock clock, Display display)
    : _total(total), _clock(std::move(clock)), _display(std::move(display)), _start(_clock())
{
}

double LoadingProgress::elapsed() const
{
    return _clock() - _start;
}

void LoadingProgress::starting(unsigned int index, const std::string& file)
{
    if (elapsed() <= kQuietSeconds)
        return;
    _display("Loading " + osgDB::getSimpleFileName(file) + " (" + std::to_string(index + 1) + " of " +
             std::to_string(_total) + " objects)");
}

void LoadingProgress::finished()
{
    const double seconds = elapsed();
    if (seconds <= kQuietSeconds)
        return;
    char text[96];
    std::snprintf(text, sizeof(text), "Loaded %u objects in %.1f s", _total, seconds);
    _display(text);
}

} // namespace Novaro
