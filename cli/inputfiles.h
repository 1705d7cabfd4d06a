#pragma once

#include <QString>
#include <QStringList>

// The files a command line names: files as given, folders as their audio and video files.
struct InputFiles
{
    QStringList files; // absolute, each file once, in the order given (a folder's files by name)
    QStringList duplicates; // arguments that named a file already taken
    QStringList problems; // what makes the command line unusable: missing files, unreadable folders
    // Media files found in a folder whose names are not valid in the system's encoding (UTF-8):
    // they cannot be opened by their decoded name, so they are told of, not transcribed.
    QStringList undecodable;
};

namespace InputFileRules {

// True for a file name whose suffix is one of the audio or video formats a folder gives.
bool isMediaName(const QString &fileName);

// Files given by name are taken whatever their suffix: ffmpeg decides whether it can read them.
InputFiles collect(const QStringList &arguments, bool recursive);

} // namespace InputFileRules
