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

// The value of text for property, within the type of its setter's argument, or an invalid
// variant when text is outside it: the setter clamps the rest.
QVariant enumValue(const QMetaProperty &property, const QByteArray &text)
{
    bool ok = false;
    const int key = property.enumerator().keyToValue(text.constData(), &ok);
    std::optional<qint64> number = ok ? std::optional<qint64>(key) : parseDecimal(text, 0, 255);
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
        if (text == "true" || text == "1")
            return true;
        if (text == "false" || text == "0")
            return false;
        return {};
    case QMetaType::Int:
        if (auto number = parseDecimal(text, std::numeric_limits<qint32>::min(),
                                       std::numeric_limits<qint32>::max()))
            return qint32(*number);
        return {};
    case QMetaType::UInt:
        if (auto number = parseDecimal(text, 0, std::numeric_limits<quint32>::max()))
            return quint32(*number);
        return {};
    default:
        return {};
    }
}

// What property's values are, as the message of a value outside them says.
QByteArray valuesOf(const QMetaProperty &property)
{
    if (property.isEnumType())
        return QByteArray("a name such as ") + property.enumerator().key(0) + ", or 0..255";
    switch (property.metaType().id()) {
    case QMetaType::Bool:
        return "true, false, 1 or 0";
    case QMetaType::Int:
        return "-2147483648..2147483647";
    default:
        return "0..4294967295";
    }
}

} // namespace

void applySetting(TMidiGen &generator, const QByteArray &assignment)
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
        throw UsageError("invalid value for " + name + ": " + text + " (" + valuesOf(property) +
                         ")");
}

void applySettings(TMidiGen &generator, const Options &options)
{
    for (const QByteArray &assignment : options.values("set"))
        applySetting(generator, assignment);
}

QByteArray settingNames()
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
