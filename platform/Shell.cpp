// The desktop calls, through QDesktopServices and the file manager's D-Bus interface.
#include "platform/Shell.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDateTime>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QMimeDatabase>
#include <QUrl>
#include <QVBoxLayout>

namespace {
std::function<void(const QString&, const QString&)>& Recorder()
{
    static std::function<void(const QString&, const QString&)> recorder;
    return recorder;
}

QUrl UrlOf(const QString& pathOrUrl)
{
    return pathOrUrl.contains("://") || pathOrUrl.startsWith("mailto:") ? QUrl(pathOrUrl)
                                                                        : QUrl::fromLocalFile(pathOrUrl);
}

// Asks the desktop's file manager over the session bus. A file manager that is not running is
// started by the bus; a short timeout keeps a stuck one from freezing the window.
bool CallFileManager(const QString& method, const QString& path)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                                       "org.freedesktop.FileManager1", method);
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    const QDBusMessage reply = bus.call(call, QDBus::Block, 3000);
    return reply.type() == QDBusMessage::ReplyMessage;
}

QString Permissions(const QFileInfo& info)
{
    const QFile::Permissions p = info.permissions();
    QString text;
    const std::pair<QFile::Permission, char> bits[] = {
        {QFile::ReadOwner, 'r'}, {QFile::WriteOwner, 'w'}, {QFile::ExeOwner, 'x'},
        {QFile::ReadGroup, 'r'}, {QFile::WriteGroup, 'w'}, {QFile::ExeGroup, 'x'},
        {QFile::ReadOther, 'r'}, {QFile::WriteOther, 'w'}, {QFile::ExeOther, 'x'},
    };
    for (const auto& [bit, letter] : bits) {
        text += (p & bit) ? QChar(letter) : QChar('-');
    }
    return text;
}

// The program's own small sheet, for desktops without a file manager on the bus.
void ShowOwnProperties(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) {
        return;
    }
    auto* dialog = new QDialog();
    dialog->setObjectName("frmProperties");
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle("    Properties");
    auto* form = new QFormLayout();
    const QLocale locale;
    auto add = [&](const QString& label, const QString& value) {
        auto* field = new QLabel(value, dialog);
        field->setTextInteractionFlags(Qt::TextSelectableByMouse);
        field->setAccessibleName(label);
        form->addRow(label, field);
    };
    add("Name:", info.fileName().isEmpty() ? path : info.fileName());
    add("Folder:", QDir::toNativeSeparators(info.absolutePath()));
    QString type = info.isSymLink() ? QString("Link to %1").arg(info.symLinkTarget())
                   : info.isDir()   ? QString("Folder")
                                    : QMimeDatabase().mimeTypeForFile(info).comment();
    add("Type:", type);
    if (!info.isDir()) {
        add("Size:", QString("%1 (%2 bytes)").arg(locale.formattedDataSize(info.size())).arg(info.size()));
    }
    add("Modified:", locale.toString(info.lastModified(), QLocale::LongFormat));
    add("Changed:", locale.toString(info.metadataChangeTime(), QLocale::LongFormat));
    if (info.birthTime().isValid()) {
        add("Created:", locale.toString(info.birthTime(), QLocale::LongFormat));
    }
    add("Permissions:", Permissions(info) + "  " + info.owner() + ":" + info.group());
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);
    auto* layout = new QVBoxLayout(dialog);
    layout->addLayout(form);
    layout->addWidget(buttons);
    dialog->show();
}
} // namespace

void SetShellRecorder(std::function<void(const QString& verb, const QString& argument)> recorder)
{
    Recorder() = std::move(recorder);
}

void ShellOpen(const QString& pathOrUrl)
{
    if (Recorder()) {
        Recorder()("open", pathOrUrl);
        return;
    }
    QDesktopServices::openUrl(UrlOf(pathOrUrl));
}

void ShellShowFolder(const QString& folder)
{
    if (Recorder()) {
        Recorder()("folder", folder);
        return;
    }
    if (!CallFileManager("ShowFolders", folder)) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    }
}

void ShellShowProperties(const QString& path)
{
    if (Recorder()) {
        Recorder()("properties", path);
        return;
    }
    if (!CallFileManager("ShowItemProperties", path)) {
        ShowOwnProperties(path);
    }
}
