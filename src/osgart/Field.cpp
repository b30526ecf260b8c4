#include "osgART/Field.h"

namespace osgART
{

Field* FieldContainer::get(const std::string& name)
{
    auto found = _fields.find(name);
    return found == _fields.end() ? nullptr : found->second.get();
}

void FieldContainer::addField(const std::string& name, Field* field)
{
    _fields[name] = field;
}

} // namespace osgART
