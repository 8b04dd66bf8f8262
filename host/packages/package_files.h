// Package and template files on disk. Paths in a pack list are absolute and lie below the
// working folder (QDir::currentPath()); packages and templates store them relative to it.
// Every file is written to a temporary name in its folder and renamed into place, so a failed
// write leaves whatever was there before.
#pragma once

#include "host/packages/package_format.h"

#include <QString>
#include <QStringList>

namespace Packages {

// Packs the files of `packList`, in order, into a package at `packagePath`. False when a path
// is not below the working folder or leads out of it through a link, a source is not a regular
// file or cannot be read, the package would pass the 32-bit limits or cannot be written;
// `error` (when given) then says which. Sources are read no further than their size at the
// open, so a file that grows meanwhile cannot make the package pass the limits.
bool writePackage(const QStringList &packList, const QString &packagePath,
                  PackageMessage *error = nullptr);

// Reads a whole package file: a regular file of at most kMaxPackageSize bytes (a device or
// FIFO is refused before a byte is read). False, with `error` (when given) saying why.
bool readPackageFile(const QString &packagePath, QByteArray &bytes, PackageMessage *error = nullptr);

// Reads a template: a "ROOT" element whose children are all "FILE" elements, each naming a
// plain path relative to the working folder in "VALUE". `files` gets the absolute paths in
// order (empty for a ROOT without children). False, with `files` untouched and `why` (when
// given) naming the file and the fault, otherwise.
bool loadTemplate(const QString &templatePath, QStringList &files, QString *why = nullptr);

// Writes a template of `packList` (GBK, one blank per level). False when a path is not below
// the working folder or cannot be written in GBK, or the file cannot be written.
bool saveTemplate(const QStringList &packList, const QString &templatePath);

} // namespace Packages
