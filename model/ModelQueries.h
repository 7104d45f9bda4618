#pragma once

#include "protocol/KernelKind.h"

#include <QString>
#include <QStringList>

namespace vmsg {
class Context;
}

// The kernel's model queries: block types, blocks, the tags of a block, the inspection of a variable
// and the reading of its value. Each is one request to the kernel connection given by its handle;
// a handle of 0, a request without a reply or a reply of another shape gives an empty answer.
// Requests go through the process-wide message port unless a context of its own is given (a
// connection that another thread drives).

// Longest request text, model-variable name and base name, in bytes of UTF-8. A request whose text
// would be longer is not sent (it is answered as one without a reply), so no request ever names
// something other than what the user chose.
constexpr int kMaxModelText = protocol::maxText;

// The tag type choice: labels shown, in row order, and the code each row sends. Row 0 is "Any".
struct TagTypeRow
{
    const char* label;
    const char* code;
};
constexpr int kTagTypeCount = 14;
extern const TagTypeRow kTagTypes[kTagTypeCount];
QStringList tagTypeLabels();
// The label of a kernel type number: the table's label for 1 to 13, "Property set" for 14, else
// the number itself.
QString tagTypeName(int type);

// The request texts; empty filters and the choice "Any" (exactly) are sent as "*".
QString blockQueryText(const QString& nameFilter, const QString& blockType);
QString tagQueryText(const QString& blockName, const QString& nameFilter, int tagTypeRow);

QStringList QueryBlockTypes(int kernelHandle);
// sortByName: ascending by the UTF-8 bytes with the letters A to Z folded to lower case; else the
// kernel's (execution) order.
QStringList QueryBlocks(int kernelHandle, const QString& nameFilter, const QString& blockType, bool sortByName,
                        vmsg::Context* context = nullptr);
QStringList QueryTags(int kernelHandle, const QString& blockName, const QString& nameFilter, int tagTypeRow,
                      vmsg::Context* context = nullptr);

// Type number of a property set, whose members are the fixed property table.
constexpr int kPropertySetType = 14;

struct Inspection
{
    bool ok = false; // a reply came, both integers popped, and the first is 0
    int compat = 0;
    int type = 0;
    QStringList elements; // the "@V_array" answer; not read for a property set
};
Inspection InspectVariable(int kernelHandle, const QString& name, vmsg::Context* context = nullptr);

// The current value of a variable as text (array elements joined with ", "), read with the kernel's
// read request (kind 50). On failure error holds the kernel's text, or is empty without a reply.
struct VariableReading
{
    bool ok = false;
    int type = 0;
    QString value;
    QString error;
};
VariableReading readVariable(int kernelHandle, const QString& name, vmsg::Context* context = nullptr);
