// printf-style patterns from language files, filled safely. A pattern comes from a file the
// user may edit, so each conversion is checked against the argument it would consume: a
// conversion without a matching argument is copied as written instead of reaching printf.
#pragma once

#include <QString>
#include <QVariant>
#include <QVector>

// Arguments: QString (for %s), int or qlonglong (for d i u o x X c), double (for f F e E g G a A).
QString formatPattern(const QString &pattern, const QVector<QVariant> &args);
