// The type column of Qt's file dialog in the window's language: Qt's own
// Chinese translation lacks the names of folders and drives, so the dialog
// said "Folder" in a Chinese window. Files keep the MIME type's comment, which
// follows the window's locale.
#pragma once

#include <QCoreApplication>
#include <QFileIconProvider>

namespace caiji {

class FileTypeNames : public QFileIconProvider
{
    Q_DECLARE_TR_FUNCTIONS(FileTypeNames)

public:
    QString type(const QFileInfo &info) const override;
};

} // namespace caiji
