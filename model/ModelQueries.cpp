#include "model/ModelQueries.h"
#include "protocol/KernelKind.h"

#include "vmsg/vmsg.h"

#include <QByteArray>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

constexpr int kWait = 20; // two seconds
constexpr int kPopDefault = -99999;
constexpr const char* kAny = "Any";

bool fits(const QByteArray& text)
{
    return text.size() <= kMaxModelText;
}

QString orAll(const QString& filter)
{
    return filter.isEmpty() ? QStringLiteral("*") : filter;
}

char fold(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool lessByName(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        const auto x = static_cast<unsigned char>(fold(*a));
        const auto y = static_cast<unsigned char>(fold(*b));
        if (x != y || x == 0)
            return x < y;
    }
}

// One string array from reply, optionally sorted by name; false when the pop fails.
bool popNames(vmsgMsgPort& reply, QStringList& names, bool sortByName = false)
{
    int count = 0;
    char** strings = nullptr;
    if (!reply.pop(count, strings, kPopDefault, -1))
        return false;
    std::vector<const char*> order(strings, strings + count);
    if (sortByName)
        std::stable_sort(order.begin(), order.end(), lessByName);
    names.reserve(count);
    for (const char* name : order)
        names.append(QString::fromUtf8(name));
    return true;
}

// Sends one query text and -1 as kind, and pops one string array from the reply.
// A fresh request port on context, or on the process-wide one.
std::unique_ptr<vmsgMsgPort> portOn(vmsg::Context* context)
{
    return context ? std::make_unique<vmsgMsgPort>(*context) : std::make_unique<vmsgMsgPort>();
}

QStringList askNames(vmsg::Context* context, int kernelHandle, int kind, const QString& text, bool sortByName = false)
{
    const QByteArray request = text.toUtf8();
    QStringList names;
    if (!fits(request))
        return names;
    const std::unique_ptr<vmsgMsgPort> owned = portOn(context);
    vmsgMsgPort& port = *owned;
    port.push(request.constData());
    port.push(-1);
    if (vmsgMsgPort* reply = vmsgRequestBlock(port, kernelHandle, kind, "   ", kWait, nullptr)) {
        if (!popNames(*reply, names, sortByName))
            names.clear();
    }
    return names;
}

QString number(double v)
{
    return QString::number(v, 'g', 6);
}

} // namespace

const TagTypeRow kTagTypes[kTagTypeCount] = {
    {"Any", "*"},     {"DBLE", "dble"}, {"DBIA", "dbia"}, {"DBAR", "dbar"}, {"DBAA", "dbaa"},
    {"INTG", "intg"}, {"INIA", "inia"}, {"INAR", "inar"}, {"INAA", "inaa"}, {"STRN", "strn"},
    {"STAR", "star"}, {"TSTR", "tstr"}, {"TSIA", "tsia"}, {"TSOA", "tsoa"},
};

QStringList tagTypeLabels()
{
    QStringList labels;
    for (const TagTypeRow& row : kTagTypes)
        labels.append(QString::fromLatin1(row.label));
    return labels;
}

QString tagTypeName(int type)
{
    if (type >= 1 && type < kTagTypeCount)
        return QString::fromLatin1(kTagTypes[type].label);
    if (type == kPropertySetType)
        return QStringLiteral("Property set");
    return QString::number(type);
}

QString blockQueryText(const QString& nameFilter, const QString& blockType)
{
    const QString type = blockType == QLatin1String(kAny) ? QStringLiteral("*") : blockType;
    return QStringLiteral("$top<x>@name(") + orAll(nameFilter) + QStringLiteral(")@type(") + type +
           QStringLiteral(")@tagname(*)@tagvalue(*)@B_n_lst");
}

QString tagQueryText(const QString& blockName, const QString& nameFilter, int tagTypeRow)
{
    const int row = tagTypeRow >= 0 && tagTypeRow < kTagTypeCount ? tagTypeRow : 0;
    return blockName + QStringLiteral(":$top@name(") + orAll(nameFilter) + QStringLiteral(")@vr_tp(") +
           QLatin1String(kTagTypes[row].code) + QStringLiteral(")@B_tags");
}

QStringList QueryBlockTypes(int kernelHandle)
{
    return askNames(nullptr, kernelHandle, KernelKind::BlockTypes, QStringLiteral("$top"));
}

QStringList QueryBlocks(int kernelHandle, const QString& nameFilter, const QString& blockType, bool sortByName,
                        vmsg::Context* context)
{
    return askNames(context, kernelHandle, KernelKind::Query, blockQueryText(nameFilter, blockType), sortByName);
}

QStringList QueryTags(int kernelHandle, const QString& blockName, const QString& nameFilter, int tagTypeRow,
                      vmsg::Context* context)
{
    return askNames(context, kernelHandle, KernelKind::Query, tagQueryText(blockName, nameFilter, tagTypeRow));
}

Inspection InspectVariable(int kernelHandle, const QString& name, vmsg::Context* context)
{
    Inspection result;
    const QByteArray compat = (name + QStringLiteral("@V_compat")).toUtf8();
    const QByteArray type = (name + QStringLiteral("@V_type")).toUtf8();
    const QByteArray array = (name + QStringLiteral("@V_array")).toUtf8();
    if (!fits(compat) || !fits(type) || !fits(array))
        return result;
    const std::unique_ptr<vmsgMsgPort> owned = portOn(context);
    vmsgMsgPort& port = *owned;
    port.push(compat.constData());
    port.push(1);
    port.push_divider();
    port.push(type.constData());
    port.push_divider();
    port.push(array.constData());
    vmsgMsgPort* reply = vmsgRequestBlock(port, kernelHandle, KernelKind::Query, "   ", kWait, nullptr);
    if (!reply || !reply->pop(result.compat, kPopDefault) || !reply->pop(result.type, kPopDefault) ||
        result.compat != 0)
        return result;
    result.ok = true;
    if (result.type != kPropertySetType && !popNames(*reply, result.elements))
        result.elements.clear();
    return result;
}

VariableReading readVariable(int kernelHandle, const QString& name, vmsg::Context* context)
{
    VariableReading result;
    const QByteArray request = name.toUtf8();
    if (!fits(request))
        return result;
    const std::unique_ptr<vmsgMsgPort> owned = portOn(context);
    vmsgMsgPort& port = *owned;
    port.push(request.constData());
    vmsgMsgPort* reply = vmsgRequestBlock(port, kernelHandle, KernelKind::Read, "   ", kWait, nullptr);
    int code = 0;
    if (!reply || !reply->pop(code, kPopDefault))
        return result;
    if (code != 0) {
        char* text = nullptr;
        reply->pop(text, kPopDefault, -1);
        result.error = QString::fromUtf8(text);
        return result;
    }
    if (!reply->pop(result.type, kPopDefault))
        return result;
    QStringList parts;
    for (;;) {
        double real = 0;
        int integer = 0;
        char* text = nullptr;
        int count = 0;
        char** strings = nullptr;
        if (reply->pop(real, kPopDefault)) {
            parts.append(number(real));
        } else if (reply->pop(integer, kPopDefault)) {
            parts.append(QString::number(integer));
        } else if (reply->pop(text, kPopDefault, -1)) {
            parts.append(QString::fromUtf8(text));
        } else if (reply->pop(count, strings, kPopDefault, -1)) {
            for (int i = 0; i < count; ++i)
                parts.append(QString::fromUtf8(strings[i]));
        } else {
            break;
        }
    }
    result.ok = true;
    result.value = parts.join(QStringLiteral(", "));
    return result;
}
