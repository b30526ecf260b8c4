#pragma once

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <osg/Notify>
#include <osg/ref_ptr>

#include <gtest/gtest.h>

namespace Novaro
{
namespace SettingsTest
{

// Writes settings texts into a fresh temporary folder, removed with the object.
class TemporaryFiles
{
public:
    TemporaryFiles()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "novaro_settings_XXXXXX").string();
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        folder_ = mkdtemp(name.data()) ? std::string(name.data()) : std::string();
    }
    ~TemporaryFiles()
    {
        std::error_code ignored;
        if (!folder_.empty())
            std::filesystem::remove_all(folder_, ignored);
    }

    // Writes the bytes as they are and returns the file's path.
    std::string write(const std::string& name, const std::string& content) const
    {
        std::string path = folder_ + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    const std::string& folder() const { return folder_; }

private:
    std::string folder_;
};

// Records every notification line (without its line break) with its severity, while installed.
class NotifyCapture
{
public:
    NotifyCapture() : handler_(new Handler(lines_)), previousLevel_(osg::getNotifyLevel())
    {
        osg::setNotifyLevel(osg::NOTICE);
        osg::setNotifyHandler(handler_.get());
    }
    ~NotifyCapture()
    {
        osg::setNotifyHandler(new osg::StandardNotifyHandler);
        osg::setNotifyLevel(previousLevel_);
    }

    const std::vector<std::pair<osg::NotifySeverity, std::string>>& lines() const { return lines_; }

    // Index of the first line equal to text at or after from, or -1.
    int find(const std::string& text, int from = 0) const
    {
        for (int index = from; index < static_cast<int>(lines_.size()); ++index)
            if (lines_[index].second == text)
                return index;
        return -1;
    }
    bool has(const std::string& text) const { return find(text) >= 0; }
    int count(const std::string& text) const
    {
        return static_cast<int>(std::count_if(lines_.begin(), lines_.end(),
                                              [&](const auto& line) { return line.second == text; }));
    }
    // Severity of the first line equal to text; DEBUG_FP when absent (never used by the readers).
    osg::NotifySeverity severityOf(const std::string& text) const
    {
        int index = find(text);
        return index < 0 ? osg::DEBUG_FP : lines_[index].first;
    }
    // True when the texts appear in this order (not necessarily next to each other).
    bool inOrder(const std::vector<std::string>& texts) const
    {
        int at = 0;
        for (const std::string& text : texts)
        {
            at = find(text, at);
            if (at < 0)
                return false;
            ++at;
        }
        return true;
    }

private:
    using Lines = std::vector<std::pair<osg::NotifySeverity, std::string>>;
    class Handler : public osg::NotifyHandler
    {
    public:
        explicit Handler(Lines& lines) : lines_(lines) {}
        void notify(osg::NotifySeverity severity, const char* message) override
        {
            std::string line(message);
            if (!line.empty() && line.back() == '\n')
                line.pop_back();
            lines_.emplace_back(severity, line);
        }

    private:
        Lines& lines_;
    };

    Lines lines_;
    osg::ref_ptr<Handler> handler_;
    osg::NotifySeverity previousLevel_;
};

// Runs a reader's loadFile and parse over a text; the reader keeps the outcome for inspection.
template <class Reader> struct ReadResult
{
    explicit ReadResult(const std::string& path) : reader(path)
    {
        loaded = reader.loadFile();
        parsed = loaded && reader.parse();
        valid = parsed && reader.isValid();
    }
    Reader reader;
    bool loaded = false;
    bool parsed = false;
    bool valid = false;
};

} // namespace SettingsTest
} // namespace Novaro
