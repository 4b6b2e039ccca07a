#include "faces/qt/file_dialog.h"

#include <QStringList>

#include "files/file_filter.h"

namespace zl {
namespace {

// A filter pair as the Qt file dialog reads it: "Description (pattern)". "*.*" stands
// for every file, also those without a dot.
QString NameFilter(const FilterEntry& e) {
    QString description = QString::fromStdU16String(e.description).trimmed();
    QString pattern = QString::fromStdU16String(e.pattern).trimmed();
    if (pattern == QLatin1String("*.*")) {
        description.replace(QLatin1String("(*.*)"), QLatin1String("(*)"));
        pattern = QStringLiteral("*");
    }
    if (!description.endsWith(QLatin1Char(')'))) description += QStringLiteral(" (") + pattern + QLatin1Char(')');
    return description;
}

}  // namespace

void SetUpFileDialog(QFileDialog& dialog, bool open, const std::u16string& filter, const std::u16string& defExt) {
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(open ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    QStringList filters;
    for (const FilterEntry& e : SplitFilter(filter)) filters << NameFilter(e);
    dialog.setNameFilters(filters);
    // Also when opening: a name typed without its extension ("fw") finds fw.spic32.
    dialog.setDefaultSuffix(QString::fromStdU16String(defExt));
}

}  // namespace zl
