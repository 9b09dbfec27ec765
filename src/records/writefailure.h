// Why a write to a file failed, in the words the run's messages use: a full
// disk is named as such, since it is the commonest cause and the one a user
// can mend.
#pragma once

#include <QString>

class QFileDevice;

namespace caiji {

// Call at once after the write, flush or commit of `file` failed: it reads
// the system's error number of that call.
QString writeFailureReason(const QFileDevice &file);
// The same for a system error number; `otherwise` when it is 0.
QString writeFailureReason(int errorNumber, const QString &otherwise);

} // namespace caiji
