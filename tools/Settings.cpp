#include "Settings.h"

#include <midigen/MidiGen.h>

#include <QMetaEnum>
#include <QMetaProperty>
#include <QVariant>

#include <limits>

namespace tool
{

namespace
{

QVariant enumValue(const QMetaProperty &property, const QByteArray &text)
{
    bool ok = false;
    const int key = property.enumerator().keyToValue(text.constData(), &ok);
    std::optional<qint64> number = ok ? std::optional<qint64>(key) : ParseDecimal(text, 0, 255);
    if (!number)
        return {};
    // The enumerations are 8 bits wide; build the variant of the property's own type.
    const auto byte = quint8(*number);
    return QVariant(property.metaType(), &byte);
}

QVariant parseValue(const QMetaProperty &property, const QByteArray &text)
{
    if (property.isEnumType())
        return enumValue(property, text);
    switch (property.metaType().id()) {
    case QMetaType::Bool:
        if (text == "true")
            return true;
        if (text == "false")
            return false;
        if (auto number = ParseDecimal(text, std::numeric_limits<qint32>::min(),
                                       std::numeric_limits<quint32>::max()))
            return *number != 0;
        return {};
    case QMetaType::Int:
        if (auto number = ParseDecimal(text, std::numeric_limits<qint32>::min(),
                                       std::numeric_limits<qint32>::max()))
            return qint32(*number);
        return {};
    case QMetaType::UInt:
        if (auto number = ParseDecimal(text, 0, std::numeric_limits<quint32>::max()))
            return quint32(*number);
        return {};
    default:
        return {};
    }
}

} // namespace

void ApplySetting(TMidiGen &generator, const QByteArray &assignment)
{
    const qsizetype equals = assignment.indexOf('=');
    if (equals < 0)
        throw UsageError("--set needs NAME=VALUE: " + assignment);
    const QByteArray name = assignment.left(equals);
    const QByteArray text = assignment.mid(equals + 1);

    const QMetaObject &meta = TMidiGen::staticMetaObject;
    const int index = meta.indexOfProperty(name.constData());
    // Only the tone generator's own properties are settings, not those of its base class.
    if (index < meta.propertyOffset())
        throw UsageError("unknown property: " + name);
    const QMetaProperty property = meta.property(index);
    if (!property.isWritable())
        throw UsageError("property is read-only: " + name);
    const QVariant value = parseValue(property, text);
    if (!value.isValid() || !property.write(&generator, value))
        throw UsageError("invalid value for " + name + ": " + text);
}

void ApplySettings(TMidiGen &generator, const Options &options)
{
    for (const QByteArray &assignment : options.values("set"))
        ApplySetting(generator, assignment);
}

QByteArray SettingNames()
{
    const QMetaObject &meta = TMidiGen::staticMetaObject;
    QByteArray names;
    for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i) {
        const QMetaProperty property = meta.property(i);
        if (!property.isWritable())
            continue;
        if (!names.isEmpty())
            names += ", ";
        names += property.name();
    }
    return names;
}

} // namespace tool
