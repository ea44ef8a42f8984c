// The file-selection dialog over QFileDialog. The dialog
// is Qt's own rather than the desktop's, so it behaves the same on every desktop and
// under a virtual display.
#include "dialogs.h"
#include "text.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QPushButton>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

constexpr int kErrNoEngine = -1;

FileSelectResponder fileSelectResponder;

void CopyPath(const QString &path, char *destination) {
    const QByteArray bytes = QFile::encodeName(path);
    CopyText(destination, kPathSize, std::string_view(bytes.constData(), bytes.size()));
}

QString ConfirmLabel(int button) {
    switch (button) {
    case kButtonSave:
        return QObject::tr("Save");
    case kButtonLoad:
        return QObject::tr("Load");
    default:
        return QObject::tr("OK");
    }
}

// ".dat" of "*.dat"; empty for a filter without one extension.
QString FilterExtension(const QString &filter) {
    const QString first = filter.section(';', 0, 0).trimmed();
    const int dot       = first.lastIndexOf('.');
    if (dot < 0 || first.mid(dot).contains('*'))
        return {};
    return first.mid(dot);
}

void ConfigureDialog(QFileDialog &dialog, const QString &filter, int button, int restrictExtension,
                     int allowCancel, int allowMakeDirectory) {
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(button == kButtonSave ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(button == kButtonLoad ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setLabelText(QFileDialog::Accept, ConfirmLabel(button));
    // Read-only is what takes the new-folder button away from Qt's own dialog.
    dialog.setOption(QFileDialog::ReadOnly, allowMakeDirectory == 0);
    QStringList filters;
    if (!filter.isEmpty())
        filters << filter;
    if (!restrictExtension || filters.isEmpty())
        filters << QObject::tr("All files (*)");
    dialog.setNameFilters(filters);
    if (!allowCancel)
        if (auto *buttons = dialog.findChild<QDialogButtonBox *>())
            if (QPushButton *cancel = buttons->button(QDialogButtonBox::Cancel))
                cancel->hide();
}

} // namespace

int FileSelectPopup(const char *defaultDirectory, const char *defaultFileName, const char *filter,
                    const char *title, int button, int, int restrictExtension, int allowCancel,
                    int allowMakeDirectory, char *pathName) {
    if (fileSelectResponder)
        return fileSelectResponder(title, button, pathName);
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()) || !pathName)
        return kErrNoEngine;
    const QString filterText = QString::fromUtf8(filter ? filter : "");
    QFileDialog dialog(QApplication::activeWindow(), QString::fromUtf8(title ? title : ""),
                       QString::fromLocal8Bit(defaultDirectory ? defaultDirectory : ""));
    ConfigureDialog(dialog, filterText, button, restrictExtension, allowCancel, allowMakeDirectory);
    if (defaultFileName && *defaultFileName)
        dialog.selectFile(QString::fromLocal8Bit(defaultFileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return kSelectCancel;
    QString path            = dialog.selectedFiles().first();
    const QString extension = FilterExtension(filterText);
    if (restrictExtension && !extension.isEmpty() && !path.endsWith(extension, Qt::CaseInsensitive))
        path += extension;
    CopyPath(path, pathName);
    return QFileInfo::exists(path) ? kSelectExisting : kSelectNew;
}

void SetFileSelectResponder(FileSelectResponder responder) {
    fileSelectResponder = std::move(responder);
}

FileSelectResponder GetFileSelectResponder() {
    return fileSelectResponder;
}
