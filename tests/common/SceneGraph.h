#pragma once

#include <osg/Geode>
#include <osg/NodeVisitor>

#include <string>
#include <vector>

namespace NovaroTest
{

// The first node below root (root included) of that name and type; null when there is none.
template <typename T = osg::Node> T* findByName(osg::Node* root, const std::string& name)
{
    struct Finder : public osg::NodeVisitor
    {
        explicit Finder(const std::string& n) : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN), name(n) {}
        void apply(osg::Node& node) override
        {
            if (found == nullptr && node.getName() == name)
                found = dynamic_cast<T*>(&node);
            traverse(node);
        }
        std::string name;
        T* found = nullptr;
    } finder(name);
    root->accept(finder);
    return finder.found;
}

// Every drawable of that type below root, in traversal order.
template <typename T> std::vector<T*> drawablesOf(osg::Node* root)
{
    struct Collector : public osg::NodeVisitor
    {
        Collector() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}
        void apply(osg::Geode& geode) override
        {
            for (unsigned int i = 0; i < geode.getNumDrawables(); ++i)
                if (T* drawable = dynamic_cast<T*>(geode.getDrawable(i)))
                    found.push_back(drawable);
        }
        std::vector<T*> found;
    } collector;
    root->accept(collector);
    return collector.found;
}

} // namespace NovaroTest
