// A picture of a package: its header facts, a map of every partition it writes drawn to scale
// with each record, window and move coloured by kind, and the steps on a time line from the
// dry run. One scene, written as inline SVG in a self-contained HTML page, or painted by the
// plug-in window.
#pragma once

#include "deltamaker/report/device_report.h"

#include <string>
#include <utility>
#include <vector>

struct PictureShape {
    enum Kind { Rect, Text, Line };
    Kind kind = Rect;
    double x = 0, y = 0;   // rectangle corner, text anchor point (baseline), line start
    double w = 0, h = 0;   // rectangle size; line: the end is (x + w, y + h)
    std::string fill;      // "#rrggbb"; empty: none
    std::string stroke;    // empty: none
    std::string text;      // Text
    std::string title;     // what a pointer over it tells
    std::string cls;       // "record", "window", "move", "stored", "step", "partition", ...
    int fontSize = 12;
    bool bold = false;
    int anchor = 0;        // text: 0 start, 1 middle, 2 end
};

struct PackagePicture {
    std::string title;                                      // "FotaPKG package NAME"
    std::vector<std::pair<std::string, std::string>> facts; // label, value
    std::vector<std::string> notes;
    double width = 0, height = 0;
    std::vector<PictureShape> shapes;
};

// The colours of the kinds, shared by the page and the window.
extern const char *const kPictureColourPatched;
extern const char *const kPictureColourStored;
extern const char *const kPictureColourMoved;
extern const char *const kPictureColourUnsafe;

// Reads the files, runs the package on the flash model (with the power-cut analysis when the
// old image is given) and draws it. Without a partition table the partitions are drawn at the
// extent of what the package writes. False with the reason when the package cannot be read
// or run.
bool package_picture_files(const DeviceRunFiles &files, const FlashProfile &flash,
                           PackagePicture &picture, std::string &error);

// The inline SVG of the scene.
std::string package_picture_svg(const PackagePicture &picture);
// The facts as an HTML table.
std::string package_picture_facts_html(const PackagePicture &picture);
// The whole page: UTF-8, well-formed XML as well as HTML, with nothing loaded from elsewhere.
std::string package_picture_html(const PackagePicture &picture);

// Text escaped for HTML and XML content and attributes.
std::string html_escape(const std::string &text);
