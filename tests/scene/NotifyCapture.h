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
        : m_previousHandler(osg::getNotifyHandler()), m_previousLevel(osg::getNotifyLevel()),
          m_handler(new Handler)
    {
        osg::setNotifyHandler(m_handler.get());
        osg::setNotifyLevel(level);
    }

    ~NotifyCapture()
    {
        osg::setNotifyHandler(m_previousHandler.get());
        osg::setNotifyLevel(m_previousLevel);
    }

    std::string text() const { return m_handler->text.str(); }
    std::string fatalText() const { return m_handler->fatalText.str(); }
    bool contains(const std::string& line) const { return text().find(line) != std::string::npos; }
    void clear()
    {
        m_handler->text.str("");
        m_handler->fatalText.str("");
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

    osg::ref_ptr<osg::NotifyHandler> m_previousHandler;
    osg::NotifySeverity m_previousLevel;
    osg::ref_ptr<Handler> m_handler;
};
