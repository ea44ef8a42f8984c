// The file-selection dialog over QFileDialog, and the form over a QDialog of line edits.
// The file dialog is Qt's own rather than the desktop's, so it behaves the same on every
// desktop and under a virtual display.
#include "dialogs.h"
#include "text.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

constexpr int kErrNoEngine = -1;

FileSelectResponder fileSelectResponder;
FormResponder formResponder = nullptr;
// Wide enough for an asset tag or a station's name without scrolling.
constexpr int kFormFieldWidth = 320;
constexpr int kNoteLines      = 4;

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
    // The extension is added before the dialog looks for the file, so that it asks before
    // it replaces "unit.pdf" also when "unit" was typed.
    const QString extension = FilterExtension(filter);
    if (restrictExtension && !extension.isEmpty())
        dialog.setDefaultSuffix(extension.mid(1));
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

namespace {

QWidget *FormEditor(const FormField &field, QWidget *parent) {
    const QString value = QString::fromStdString(field.value);
    QWidget *editor     = nullptr;
    if (field.multiLine) {
        auto *note = new QPlainTextEdit(value, parent);
        note->setTabChangesFocus(true);
        note->setFixedHeight(note->fontMetrics().lineSpacing() * kNoteLines +
                             2 * note->frameWidth() + 8);
        editor = note;
    } else {
        editor = new QLineEdit(value, parent);
    }
    editor->setMinimumWidth(kFormFieldWidth);
    editor->setAccessibleName(QString::fromStdString(field.label));
    return editor;
}

std::string EditorText(const QWidget *editor) {
    if (auto *note = qobject_cast<const QPlainTextEdit *>(editor))
        return note->toPlainText().toStdString();
    return qobject_cast<const QLineEdit *>(editor)->text().toStdString();
}

} // namespace

int FormPopup(const char *title, std::vector<FormField> &fields) {
    if (formResponder)
        return formResponder(title, fields);
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return kErrNoEngine;
    QDialog dialog(QApplication::activeWindow());
    dialog.setWindowTitle(QString::fromUtf8(title ? title : ""));
    auto *form = new QFormLayout(&dialog);
    std::vector<QWidget *> editors;
    for (const FormField &field : fields) {
        QWidget *editor = FormEditor(field, &dialog);
        auto *label     = new QLabel(QString::fromStdString(field.label), &dialog);
        label->setBuddy(editor);
        form->addRow(label, editor);
        editors.push_back(editor);
    }
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return kSelectCancel;
    for (std::size_t k = 0; k < fields.size(); ++k)
        fields[k].value = EditorText(editors[k]);
    return 1;
}

void SetFormResponder(FormResponder responder) {
    formResponder = responder;
}
