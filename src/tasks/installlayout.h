// Where the workspace is by default. A program run from its build or unpacked
// folder keeps its workspace there; an installed one (its folder is "bin" with
// the help document in "../share/caiji") uses ~/.local/share/caiji, made on
// first start with the placeholder picture and the help document.
#pragma once

#include <QString>

namespace caiji {

class InstallLayout
{
public:
    explicit InstallLayout(const QString &programDir);

    bool isInstalled() const;
    QString sharedDataDir() const;
    // The workspace to use when none is given; created when it is the user's.
    QString defaultWorkspace() const;
    // Copies the placeholder picture and the help document into `workspace`
    // where they are missing. False when the workspace cannot be made.
    bool prepareWorkspace(const QString &workspace) const;

private:
    QString m_programDir;
};

} // namespace caiji
