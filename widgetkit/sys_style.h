// Colour arithmetic and the style-sheet plumbing shared by every kit widget.
//
// A kit widget's look lives only in its own style sheet: the constructor installs a base
// sheet, and every style setter appends one fragment and re-applies the whole text, so a
// later call of a setter overrides an earlier one by ordinary cascading.
#pragma once

#include <QString>

class QWidget;

// Moves each channel of a "#rgb" or "#rrggbb" colour the fraction `factor` (0..1) towards
// white. Returns "#rrggbb" in lower case, or an empty text for any other colour text or a
// factor outside [0, 1].
QString lightenColor(const QString &colour, double factor);
// Same towards black.
QString darkenColor(const QString &colour, double factor);

// Resizes `widget` to `ratio` times the size of `reference`, or of the primary screen's
// available geometry when there is no reference.
void resizeRatio(QWidget *widget, double ratio, const QWidget *reference = nullptr);

namespace Internal {
// Appends `fragment` to the widget's style sheet and re-applies the whole sheet.
void appendStyle(QWidget *widget, const QString &fragment);
// The kit's scroll-bar fragment for the scroll bars inside widgets matching `selector`:
// bar = colour, bar hover border = lighten 0.5, handle = darken 0.25, handle hover = darken 0.5.
QString scrollBarFragment(const QString &selector, const QString &colour);
// Rule for one selector: "\t<selector>{\t\t<declarations>\t}". Declarations are joined by
// "\t\t".
QString rule(const QString &selector, const QString &declarations);
// Resource path (":/...") of a small PNG triangle pointing down (or up), for "image: url(...)".
// Qt draws CSS border triangles as bars, so the kit ships its arrows as images: one pair per
// theme colour of the kit, and the nearest of them for any other colour. Nothing is written
// at run time. Empty when the colour is not valid.
QString arrowImage(const QString &colour, bool up);
// Text helpers for printf-style fragments.
inline QByteArray c8(const QString &s) { return s.toUtf8(); }
} // namespace Internal
