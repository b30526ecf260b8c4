#pragma once

#include <osg/Referenced>
#include <osg/ref_ptr>

#include <functional>
#include <map>
#include <string>

namespace osgART
{

/// A named, typed value of a plugin that callers read and write without knowing the plugin class.
class Field : public osg::Referenced
{
public:
    Field() = default;

protected:
    ~Field() override = default;
};

template <class T> class TypedField : public Field
{
public:
    explicit TypedField(const T& value = T()) : _value(value) {}

    virtual T get() const { return _value; }
    virtual void set(const T& value) { _value = value; }

protected:
    ~TypedField() override = default;
    T _value;
};

/// A field whose value lives elsewhere (in the plugin), read and written through two functions so the
/// plugin can apply its own range.
template <class T> class CallbackField : public TypedField<T>
{
public:
    CallbackField(std::function<T()> getter, std::function<void(const T&)> setter)
        : _getter(std::move(getter)), _setter(std::move(setter))
    {
    }

    T get() const override { return _getter(); }
    void set(const T& value) override { _setter(value); }

protected:
    ~CallbackField() override = default;

private:
    std::function<T()> _getter;
    std::function<void(const T&)> _setter;
};

/// Mixin giving a class named fields.
class FieldContainer
{
public:
    virtual ~FieldContainer() = default;

    /// The field called name, or nullptr when there is none.
    Field* get(const std::string& name);

protected:
    void addField(const std::string& name, Field* field);

private:
    std::map<std::string, osg::ref_ptr<Field>> _fields;
};

} // namespace osgART
