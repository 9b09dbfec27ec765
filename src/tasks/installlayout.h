// Where the program finds its shared files and where the workspace is by
// default. A program run from its build or unpacked folder keeps its
// workspace there and finds the examples in its "examples" folder (a build
// links the source tree's); an installed one (its folder is "bin" with the
// help document in "../share/caiji") uses ~/.local/share/caiji and finds the
// examples in "../share/caiji/examples", not under /usr/share/doc, which a
// system may leave out.
#pragma once

#include <QString>

namespace caiji {

class InstallLayout
{
public:
    explicit InstallLayout(const QString &programDir);

    bool isInstalled() const;
    QString sharedDataDir() const;
    // The sample workspace (its task folder holds the demo tasks); empty when
    // it is missing.
    QString examplesWorkspaceDir() const;
    // The workspace to use when none is given. Nothing is made here: the
    // commands that write into it call prepareWorkspace().
    QString defaultWorkspace() const;
    // Makes `workspace` and copies the placeholder picture and the help
    // document into it where they are missing. False when it cannot be made.
    bool prepareWorkspace(const QString &workspace) const;

private:
    QString m_programDir;
};

} // namespace caiji
