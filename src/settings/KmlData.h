#pragma once

#include <map>
#include <string>
#include <vector>

namespace Novaro
{

// One <Model> of a KML document: the model file, relative to the archive root, and the resource
// aliases (the name the model file uses → the file's name in the archive).
class KmlModel
{
public:
    KmlModel() = default;

    const std::string& getHref() const { return _href; }
    void setHref(const std::string& href) { _href = href; }

    // targetHref → sourceHref.
    const std::map<std::string, std::string>& getAliases() const { return _aliases; }
    std::map<std::string, std::string>& getAliases() { return _aliases; }

private:
    std::string _href;
    std::map<std::string, std::string> _aliases;
};

// A KML document as read: its models in document order.
class KmlData
{
public:
    KmlData() = default;

    const std::vector<KmlModel>& getModels() const { return _models; }
    std::vector<KmlModel>& getModels() { return _models; }

private:
    std::vector<KmlModel> _models;
};

} // namespace Novaro
