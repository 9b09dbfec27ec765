// Where an installed program finds its shared files and where the workspace
// is by default. A program run from its build or unpacked folder keeps its
// workspace there; an installed one (its folder is "bin" with the help
// document in "../share/caiji") uses ~/.local/share/caiji, made on first
// start with the placeholder picture and the help document. The sample
// workspace and the demo site are installed as examples in
// "../share/doc/caiji/examples", which a system may leave out.
#pragma once

#include <QString>

namespace caiji {

class InstallLayout
{
public:
    explicit InstallLayout(const QString &programDir);

    bool isInstalled() const;
    QString sharedDataDir() const;
    // The installed sample workspace (its task folder holds the demo tasks);
    // empty when the program is not installed or the examples are missing.
    QString examplesWorkspaceDir() const;
    // The workspace to use when none is given; created when it is the user's.
    QString defaultWorkspace() const;
    // Copies the placeholder picture and the help document into `workspace`
    // where they are missing. False when the workspace cannot be made.
    bool prepareWorkspace(const QString &workspace) const;

private:
    QString m_programDir;
};

} // namespace caiji
