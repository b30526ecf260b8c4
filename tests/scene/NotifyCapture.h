#pragma once

#include <osg/Notify>
#include <osg/ref_ptr>

#include <sstream>
#include <string>

// Captures everything written through osg::notify while alive, at every severity down to
// 'level', and restores the previous handler and level afterwards.
class NotifyCapture
{
public:
    explicit NotifyCapture(osg::NotifySeverity level = osg::NOTICE)
        : _previousHandler(osg::getNotifyHandler()), _previousLevel(osg::getNotifyLevel()),
          _handler(new Handler)
    {
        osg::setNotifyHandler(_handler.get());
        osg::setNotifyLevel(level);
    }

    ~NotifyCapture()
    {
        osg::setNotifyHandler(_previousHandler.get());
        osg::setNotifyLevel(_previousLevel);
    }

    std::string text() const { return _handler->text.str(); }
    std::string fatalText() const { return _handler->fatalText.str(); }
    bool contains(const std::string& line) const { return text().find(line) != std::string::npos; }
    void clear()
    {
        _handler->text.str("");
        _handler->fatalText.str("");
    }

private:
    struct Handler : public osg::NotifyHandler
    {
        void notify(osg::NotifySeverity severity, const char* message) override
        {
            text << message;
            if (severity == osg::FATAL)
                fatalText << message;
        }
        std::ostringstream text;
        std::ostringstream fatalText;
    };

    osg::ref_ptr<osg::NotifyHandler> _previousHandler;
    osg::NotifySeverity _previousLevel;
    osg::ref_ptr<Handler> _handler;
};
