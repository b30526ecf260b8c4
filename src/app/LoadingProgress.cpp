#include "app/LoadingProgress.h"

#include <osgDB/FileNameUtils>

#include <cstdio>

namespace Novaro
{

LoadingProgress::LoadingProgress(unsigned int total, Clock clock, Display display, Screen screen)
    : _total(total), _clock(std::move(clock)), _display(std::move(display)), _screen(std::move(screen)),
      _start(_clock())
{
}

void LoadingProgress::tell(const std::string& line, double done)
{
    if (_screen)
        _screen(line, done);
}

double LoadingProgress::elapsed() const
{
    return _clock() - _start;
}

void LoadingProgress::starting(unsigned int index, const std::string& file)
{
    const std::string line = "Loading " + osgDB::getSimpleFileName(file) + " (" + std::to_string(index + 1) +
                             " of " + std::to_string(_total) + " objects)";
    tell(line, _total == 0 ? 0.0 : double(index) / double(_total));
    if (elapsed() > kQuietSeconds)
        _display(line);
}

void LoadingProgress::finished()
{
    const double seconds = elapsed();
    if (seconds <= kQuietSeconds)
        return;
    char text[96];
    std::snprintf(text, sizeof(text), "Loaded %u objects in %.1f s", _total, seconds);
    tell(text, 1.0);
    _display(text);
}

} // namespace Novaro
