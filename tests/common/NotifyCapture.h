#pragma once

#include <osg/Notify>
#include <osg/ref_ptr>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace NovaroTest
{

// Records every console line written through osg::notify while it lives, with its severity, down
// to the given level. Lines are compared whole and exactly: leading blanks are part of the texts.
// The previous handler and notify level come back on destruction.
class NotifyCapture
{
public:
    using Line = std::pair<osg::NotifySeverity, std::string>;

    explicit NotifyCapture(osg::NotifySeverity level = osg::NOTICE)
        : _handler(new Handler), _previousHandler(osg::getNotifyHandler()),
          _previousLevel(osg::getNotifyLevel())
    {
        osg::setNotifyLevel(level);
        osg::setNotifyHandler(_handler.get());
    }
    ~NotifyCapture()
    {
        osg::setNotifyHandler(_previousHandler.get());
        osg::setNotifyLevel(_previousLevel);
    }
    NotifyCapture(const NotifyCapture&) = delete;
    NotifyCapture& operator=(const NotifyCapture&) = delete;

    // Every line without its line break; a message not yet ended by one counts as a line too.
    std::vector<Line> lines() const
    {
        std::vector<Line> all = _handler->lines;
        if (!_handler->pending.empty())
            all.emplace_back(_handler->pendingSeverity, _handler->pending);
        return all;
    }
    // Index of the first line equal to text at or after from, or -1.
    int find(const std::string& text, int from = 0) const
    {
        const std::vector<Line> all = lines();
        for (int index = from; index < static_cast<int>(all.size()); ++index)
            if (all[index].second == text)
                return index;
        return -1;
    }
    bool printed(const std::string& text) const { return find(text) >= 0; }
    int count(const std::string& text) const
    {
        const std::vector<Line> all = lines();
        return static_cast<int>(
            std::count_if(all.begin(), all.end(), [&](const Line& line) { return line.second == text; }));
    }
    // Severity of the first line equal to text; DEBUG_FP when it was not printed.
    osg::NotifySeverity severityOf(const std::string& text) const
    {
        const int index = find(text);
        return index < 0 ? osg::DEBUG_FP : lines()[index].first;
    }
    // The lines at the given severity or above, each ended by a line break.
    std::string text(osg::NotifySeverity upTo = osg::DEBUG_FP) const
    {
        std::string all;
        for (const Line& line : lines())
            if (line.first <= upTo)
                all += line.second + "\n";
        return all;
    }
    void clear()
    {
        _handler->lines.clear();
        _handler->pending.clear();
    }

private:
    struct Handler : public osg::NotifyHandler
    {
        void notify(osg::NotifySeverity severity, const char* message) override
        {
            pending += message;
            pendingSeverity = severity;
            for (size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n'))
            {
                lines.emplace_back(severity, pending.substr(0, end));
                pending.erase(0, end + 1);
            }
        }
        std::vector<Line> lines;
        std::string pending;
        osg::NotifySeverity pendingSeverity = osg::NOTICE;
    };

    osg::ref_ptr<Handler> _handler;
    osg::ref_ptr<osg::NotifyHandler> _previousHandler;
    osg::NotifySeverity _previousLevel;
};

} // namespace NovaroTest
