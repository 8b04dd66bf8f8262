// Small shared utilities: formatting, time stamps, whole-file I/O, folder walks,
// the single-instance test and the self-relaunch.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <string>

// printf-style formatting into a byte string. A QString for "%s" must be passed as UTF-8 bytes.
std::string formatString(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Local date and time: "yyyy-mm-dd hh:mm:ss" or, with millis, "yyyy-mm-dd hh:mm:ss.zzz".
std::string timestamp(bool withMillis);
namespace Platform { struct LocalTime; }
std::string formatTimestamp(const Platform::LocalTime &time, bool withMillis);

// The process's current directory as 8-bit text, cut to 259 bytes.
std::string currentDirectory();

// Reads the whole file. False when it cannot be opened for reading.
bool readFile(const QString &path, QByteArray &out);

// Creates the file's folder, then replaces the file with what `content` returns (an empty file
// when `content` is empty), through a temporary file renamed into place. False, with any old
// file left as it was, when the path is not a regular file or a write, the flush or the rename
// fails.
bool writeFile(const QString &path, const std::function<QByteArray()> &content = {});

// The folder and all missing parents exist afterwards.
bool makePath(const QString &folder);

// Visits the entries of `folder` that match `nameFilters` (folders first, then by name),
// entering matching subfolders when `recursive`. False when the folder does not exist or the
// visitor stopped the walk by returning false.
using WalkVisitor = std::function<bool(const QString &path, bool isFolder)>;
bool walkDir(const QString &folder, const WalkVisitor &visitor, bool recursive = true,
             const QStringList &nameFilters = QStringList());

// Single-instance test: true only when a running process (or an earlier call of this one)
// holds the name. The first caller keeps the name until it exits; a lock file that cannot be
// used does not count as a running copy.
bool alreadyRunning(const std::string &name);

// Starts a new copy of this executable with `options` (split at blanks) in the same working
// folder and environment, and waits until it says it runs (relaunchStarted) or ends. True once
// it runs (or has been running for `timeoutMs` without a word): the caller then ends this
// process. False when it could not start or ended at once; this process carries on.
bool relaunch(const std::string &options, int timeoutMs = 30000);
// In a copy started by relaunch: tells the waiting copy that this one runs. Does nothing in a
// copy started otherwise, and after the first call.
void relaunchStarted();
// True in a copy started by relaunch.
bool isRelaunched();

// The argument list that relaunch hands to the new process.
QStringList splitOptions(const std::string &options);
