#pragma once

#include "settings/XMLInteractionsParserManager.h"

namespace Novaro
{

// Reads an object's events file (root <events> with <event> children, each holding <actions>)
// into an EventsData record.
class XMLEventsParserManager : public XMLInteractionsParserManager
{
public:
    explicit XMLEventsParserManager(const std::string& path);

    bool parse() override;
    // True when every event read runs at least one action.
    bool isValid() override;

    const EventsData& getData() const { return _data; }

private:
    bool readEvents(const TiXmlElement* events);

    EventsData _data;
};

} // namespace Novaro
