#pragma once

#include <osg/Notify>
#include <osg/ref_ptr>
#include <sstream>
#include <string>

namespace NovaroTest
{

// Collects every notification line while it lives, at all severities.
class NotifyCapture
{
public:
    class Handler : public osg::NotifyHandler
    {
    public:
        void notify(osg::NotifySeverity, const char* message) override { text += message; }
        std::string text;
    };

    NotifyCapture() : _handler(new Handler), _previousLevel(osg::getNotifyLevel())
    {
        osg::setNotifyHandler(_handler.get());
        osg::setNotifyLevel(osg::DEBUG_FP);
    }
    ~NotifyCapture()
    {
        osg::setNotifyHandler(new osg::StandardNotifyHandler);
        osg::setNotifyLevel(_previousLevel);
    }
    const std::string& text() const { return _handler->text; }
    bool printed(const std::string& line) const
    {
        std::istringstream lines(_handler->text);
        std::string current;
        while (std::getline(lines, current))
        {
            if (current == line)
                return true;
        }
        return false;
    }
    void clear() { _handler->text.clear(); }

private:
    osg::ref_ptr<Handler> _handler;
    osg::NotifySeverity _previousLevel;
};

} // namespace NovaroTest
