#pragma once

// What the HTML pages' charts are drawn with: the pages' one style sheet,
// the drawing's boxes, marks and labels, and axes with ticks, grid lines
// and captions that lie outside the plot. The report and the comparison
// page share these, so that both look alike.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "html/chart_scale.h"
#include "html/markup_writer.h"

namespace toneprint {

// The page's start: the doctype, and its head with `title`, `generator`
// (the program and version) and the pages' style sheet followed by `more`,
// the sheets of what this page draws besides. The pages' sheet takes its
// colours from variables, so that the dark scheme and print only change
// those; the marks' colours are told apart by colour-blind readers too
// (blue against vermillion and orange).
std::string page_start(const std::string& title, const std::string& generator,
                       const std::vector<std::string_view>& more);

// printf's formatting of one number, in a text of any length.
std::string formatted(const char* format, double value);

// A rectangle of the drawing.
struct Box {
  double left;
  double top;
  double width;
  double height;
  double right() const { return left + width; }
  double bottom() const { return top + height; }
};

// A <title>: shown on hover, and read out by screen readers.
void title(MarkupWriter& w, const std::string& text);

void line(MarkupWriter& w, double x1, double y1, double x2, double y2, const char* css_class);

void label(MarkupWriter& w, double x, double y, const std::string& text, const char* anchor,
           const char* css_class = nullptr);

// A vertical axis's caption: centred on (x, y), reading upwards.
void upright_label(MarkupWriter& w, double x, double y, const std::string& text);

// An SVG element of this size that scales with the page.
MarkupWriter::Element svg(MarkupWriter& w, double width, double height, const char* css_class,
                          const std::string& description);

// A horizontal axis along the box's bottom, with grid lines up the box.
void x_axis(MarkupWriter& w, const Box& box, const LinearScale& x, const std::vector<double>& ticks,
            const char* unit_format, const std::string& caption);

// A vertical axis along the box's left, with grid lines across the box.
void y_axis(MarkupWriter& w, const Box& box, const LinearScale& y, const std::vector<double>& ticks,
            const char* unit_format, const std::string& caption);

// The notes of a note axis: an octave at least, a semitone beyond the first
// and last.
std::pair<double, double> note_range(double first_note, double last_note);

// A horizontal axis of notes along the box's bottom, named for A4 = `a4`
// Hz, with grid lines up the box: notes every `step` semitones from a C,
// the finest step that puts at most `most` on the axis (12 fit a full
// width chart; a narrow one takes fewer).
void note_axis(MarkupWriter& w, const Box& box, const LinearScale& x, double a4,
               const std::string& caption, int most = 12);

}  // namespace toneprint
