#include "tests/model/ModelDialogFixture.h"

#include <QComboBox>
#include <QDir>
#include <QFile>

int ModelDialogFixture::s_base = 0;
SimProcess* ModelDialogFixture::s_sim = nullptr;

QStringList ModelDialogFixture::comboItems(QWidget& parent, const char* name)
{
    auto& combo = child<QComboBox>(parent, name);
    QStringList texts;
    for (int i = 0; i < combo.count(); ++i)
        texts << combo.itemText(i);
    return texts;
}

void ModelDialogFixture::screenshot(QWidget& widget, const char* name)
{
    const QString dir = qEnvironmentVariable("KELMDESK_SCREENSHOTS");
    if (dir.isEmpty())
        return;
    widget.window()->grab().save(QDir(dir).filePath(QLatin1String(name) + QStringLiteral(".png")));
}

QString ModelDialogFixture::writeFile(const QString& name, const QByteArray& bytes)
{
    return writeFileIn(dir.path(), name, bytes);
}
