#pragma once

#include <vector>

#include "settings/EventsData.h"
#include "settings/XMLParserManager.h"

namespace Novaro
{

// The reading of action lists (<actions> of <action> with <command> and <parameters>), shared by
// every kind of file that attaches actions to something. Still abstract: the kind of file decides
// how to parse and validate the whole document.
class XMLInteractionsParserManager : public XMLParserManager
{
public:
    explicit XMLInteractionsParserManager(const std::string& path);

protected:
    // Appends the actions read from an <actions> element. False when the list is malformed (a
    // child that is not <action>, or an action without <command>); the caller drops it whole.
    bool readActions(const TiXmlElement* actions, std::vector<ActionData>& list);

private:
    void readParameters(const TiXmlElement* parameters, ActionData& action);
};

} // namespace Novaro
