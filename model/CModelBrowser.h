#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// What the tag list shows, and so how a selection in it composes the model-variable name.
enum class BrowseMode { BlockTags = 0, PropertySet = 1, ThermoElements = 2, PhysicalElements = 3 };

// Members of a property set (a variable of type 14). Row 11 belongs to the table but is not
// offered, so the list shows 13 labels.
struct PropertyRow
{
    const char* label;
    const char* suffix;
};
constexpr int kPropertyRowCount = 14;
constexpr int kHiddenPropertyRow = 11;
extern const PropertyRow kProperties[kPropertyRowCount];
// The offered labels, in table order without the hidden row.
QStringList propertyLabels();
// The table row of a position in that list; -1 outside it.
int propertyRowAt(int position);

// Element labels of a property set's ".v" (thermo parameters) and ".c" (physical properties)
// arrays; the position is the array index.
QStringList thermoParameterLabels();
QStringList physicalPropertyLabels();

// The browse state behind the Insert Model Variable dialog: turns selections in the block and tag
// lists into a model-variable name such as BLOCK:TAG, BLOCK:TAG.t or BLOCK:TAG.v[3], and says what
// the tag list is to show next. Requests go to the kernel connection kernelHandle() gives.
class CModelBrowser
{
public:
    explicit CModelBrowser(std::function<int()> kernelHandle);

    BrowseMode mode() const { return m_mode; }
    const QString& baseName() const { return m_baseName; }
    // The name composed by the last selection: what the dialog returns.
    const QString& name() const { return m_name; }
    // The block of the last block selection; empty before one.
    const QString& block() const { return m_block; }

    // Selects block b: name and base name b, the block's tags (filtered) as the new tag list.
    // nameComposed receives the name before the tags are asked for. Nothing changes, and nothing is
    // returned, for the item "no match" or a name longer than kMaxModelText.
    std::optional<QStringList> SelectBlock(const QString& block, const QString& tagFilter, int tagTypeRow,
                                           const std::function<void(const QString&)>& nameComposed = {});

    struct ItemResult
    {
        bool taken = false;              // false: the selection changed nothing
        std::optional<QStringList> list; // set: the tag list's new content
    };
    // Selects the item text at position of the tag list. nameComposed receives the new name before
    // any request is made. Not taken: the item "no match", a position outside the list, or a name
    // longer than kMaxModelText.
    ItemResult SelectItem(int position, const QString& text,
                          const std::function<void(const QString&)>& nameComposed = {});

    // The tags of the selected block again, back at the block's level (mode BlockTags, base name the
    // block); the name stays. Nothing before a block was selected.
    std::optional<QStringList> refreshTags(const QString& tagFilter, int tagTypeRow);

private:
    // The descent after a selection in modes other than PropertySet: the inspection of the name.
    ItemResult inspect(const QString& name);

    std::function<int()> m_kernelHandle;
    BrowseMode m_mode = BrowseMode::BlockTags;
    QString m_baseName;
    QString m_name;
    QString m_block;
};
