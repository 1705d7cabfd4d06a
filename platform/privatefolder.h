#pragma once

#include <QByteArray>
#include <QString>

// Folders and files that only the user who runs the program may reach: the instance socket,
// the secret the local speech service proves. On a shared machine anything in /tmp or under a
// predictable name may have been placed there by another user first.
namespace PrivateFolder {

// Makes the folder (mode 700) when missing, and checks it: a real folder, not a link, of this
// user's, that no other user may enter (a wider mode is narrowed). False with a reason otherwise.
bool ensure(const QString &folder, QString *error);

// The contents of a private file: opened once without following a link and checked on the open
// file (regular, this user's, no access for others, else refused). A missing file is made with
// contentsIfNew's bytes, mode 600, exclusively (a file made meanwhile by another start of ours is
// read instead). Empty with a reason when the file cannot be used.
QByteArray readOrCreate(const QString &path, const QByteArray &contentsIfNew, QString *error);

} // namespace PrivateFolder
