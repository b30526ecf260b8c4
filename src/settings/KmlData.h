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

    const std::string& getHref() const { return href_; }
    void setHref(const std::string& href) { href_ = href; }

    // targetHref → sourceHref.
    const std::map<std::string, std::string>& getAliases() const { return aliases_; }
    std::map<std::string, std::string>& getAliases() { return aliases_; }

private:
    std::string href_;
    std::map<std::string, std::string> aliases_;
};

// A KML document as read: its models in document order.
class KmlData
{
public:
    KmlData() = default;

    const std::vector<KmlModel>& getModels() const { return models_; }
    std::vector<KmlModel>& getModels() { return models_; }

private:
    std::vector<KmlModel> models_;
};

} // namespace Novaro
