#pragma once
// A file the user named for the program's output (a JSON or CSV report, a screenshot),
// written the way a shell's `>` would reach it, but never half-replaced:
//   - the path is opened by the kernel with its own rules, so a link that fs.protected_symlinks
//     refuses is refused here too (and files and FIFOs of others in shared sticky folders as
//     fs.protected_regular and fs.protected_fifos decide);
//   - a regular file of the user's own is replaced whole, through a temporary file beside the
//     file the kernel opened (through a link: beside its target), with its group and
//     permission bits (QSaveFile's, in a folder only the user or root can change);
//   - a regular file of someone else is written in place and keeps its owner;
//   - a device or FIFO gets the data written into it, nothing truncated; a FIFO is given
//     5 seconds for a reader to come and every write 5 seconds to move on;
//   - a missing path (or a link to nothing, which is replaced, not followed) gets a new file
//     through a temporary one (QSaveFile's, in a folder only the user or root can change).
#include <QByteArray>
#include <QString>

namespace quokka {

// Writes DATA to PATH as above. Returns an empty string, or what went wrong.
QString WriteOutputFile(const QString &path, const QByteArray &data);

} // namespace quokka
