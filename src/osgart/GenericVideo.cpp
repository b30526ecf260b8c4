#include "osgART/GenericVideo.h"

namespace osgART
{

namespace
{

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Reads a quoted value starting after its opening quote; at is left after the closing quote.
bool readQuoted(const std::string& text, std::size_t& at, std::string& value)
{
    for (; at < text.size(); ++at)
    {
        const char c = text[at];
        if (c == '\\' && at + 1 < text.size())
            value += text[++at];
        else if (c == '"')
        {
            ++at;
            return true;
        }
        else
            value += c;
    }
    return false;
}

} // namespace

std::string quoteCaptureOptionValue(const std::string& value)
{
    std::string quoted = "\"";
    for (char c : value)
    {
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

namespace
{

std::string readWord(const std::string& text, std::size_t& at)
{
    const std::size_t start = at;
    while (at < text.size() && !isBlank(text[at]))
        ++at;
    return text.substr(start, at - start);
}

// The words after at up to the next one starting with "-" continue the value (unquoted names with
// blanks).
void readContinuation(const std::string& text, std::size_t& at, std::string& target)
{
    for (std::size_t next = at; next < text.size(); next = at)
    {
        while (next < text.size() && isBlank(text[next]))
            ++next;
        if (next >= text.size() || text[next] == '-')
            break;
        at = next;
        target += " " + readWord(text, at);
    }
}

// One option from at: a name, then "=" and a value, quoted or not.
bool readOption(const std::string& text, std::size_t& at, CaptureOption& option, std::string& error)
{
    const std::size_t start = at;
    while (at < text.size() && !isBlank(text[at]) && text[at] != '=')
        option.name += text[at++];
    const bool hasValue = at < text.size() && text[at] == '=';
    if (hasValue && at + 1 < text.size() && text[at + 1] == '"')
    {
        at += 2;
        const char* problem = !readQuoted(text, at, option.value)      ? "unterminated quoted value"
                              : at < text.size() && !isBlank(text[at]) ? "text after a quoted value"
                                                                       : nullptr;
        if (problem != nullptr)
        {
            error = std::string(problem) + " in \"" + text.substr(start) + "\"";
            return false;
        }
    }
    else
    {
        std::string& target = hasValue ? option.value : option.name;
        if (hasValue)
            target += readWord(text, ++at);
        readContinuation(text, at, target);
    }
    option.text = text.substr(start, at - start);
    return true;
}

} // namespace

bool splitCaptureOptions(const std::string& text, std::vector<CaptureOption>& options, std::string& error)
{
    options.clear();
    std::size_t at = 0;
    for (;;)
    {
        while (at < text.size() && isBlank(text[at]))
            ++at;
        if (at >= text.size())
            return true;
        CaptureOption option;
        if (!readOption(text, at, option, error))
            return false;
        options.push_back(option);
    }
}

GenericVideo::GenericVideo() : _flipHorizontal(false), _flipVertical(false), _frameNumber(0) {}

void GenericVideo::setFlip(bool horizontal, bool vertical)
{
    _flipHorizontal = horizontal;
    _flipVertical = vertical;
}

std::string GenericVideo::getProblem() const
{
    std::lock_guard<std::mutex> lock(_problemMutex);
    return _problem;
}

void GenericVideo::setProblem(const std::string& problem)
{
    std::lock_guard<std::mutex> lock(_problemMutex);
    _problem = problem;
}

void GenericVideo::play()
{
    start();
    _status = PLAYING;
}

void GenericVideo::pause()
{
    stop();
    _status = PAUSED;
}

} // namespace osgART
