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

bool splitCaptureOptions(const std::string& text, std::vector<CaptureOption>& options, std::string& error)
{
    options.clear();
    std::size_t at = 0;
    auto skipBlanks = [&]()
    {
        while (at < text.size() && isBlank(text[at]))
            ++at;
    };
    auto readWord = [&]()
    {
        const std::size_t start = at;
        while (at < text.size() && !isBlank(text[at]))
            ++at;
        return text.substr(start, at - start);
    };
    for (skipBlanks(); at < text.size(); skipBlanks())
    {
        const std::size_t start = at;
        CaptureOption option;
        while (at < text.size() && !isBlank(text[at]) && text[at] != '=')
            option.name += text[at++];
        const bool hasValue = at < text.size() && text[at] == '=';
        if (hasValue && at + 1 < text.size() && text[at + 1] == '"')
        {
            at += 2;
            if (!readQuoted(text, at, option.value))
            {
                error = "unterminated quoted value in \"" + text.substr(start) + "\"";
                return false;
            }
            if (at < text.size() && !isBlank(text[at]))
            {
                error = "text after a quoted value in \"" + text.substr(start) + "\"";
                return false;
            }
        }
        else
        {
            std::string& target = hasValue ? option.value : option.name;
            if (hasValue)
            {
                ++at;
                target += readWord();
            }
            // Words not starting with "-" continue the value (unquoted names with blanks).
            for (std::size_t next = at; next < text.size(); next = at)
            {
                while (next < text.size() && isBlank(text[next]))
                    ++next;
                if (next >= text.size() || text[next] == '-')
                    break;
                at = next;
                target += " " + readWord();
            }
        }
        option.text = text.substr(start, at - start);
        options.push_back(option);
    }
    return true;
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
