#pragma once

// Readers for what the user types on the console: a yes/no answer, a bounded
// number, a line, and the rest of a line (which is also the wait for Enter).
//
// They all read through the run's one Console, so characters typed ahead are
// consumed in order, and each ends by consuming a whole line: the next reader
// starts at the beginning of a fresh line. None of them prints anything; the
// prompts are the caller's, and bad input is passed over silently.
//
// The end of the input ends every wait. A reader that meets it returns at
// once (what it returns is given with each function), so a run whose input
// comes from a file that ends early still finishes, and a run with a closed
// input keeps every default. A line may end in "\r\n" as well as in "\n": the
// carriage return counts as blank and ends a number.

#include <cstdint>

#include "app/console.h"

namespace toneprint {

// Reads characters up to the first 'y' or 'n', in either case and wherever it
// stands in its line, then discards the rest of that line. Lines holding
// neither letter are skipped without asking again. Returns true for 'y';
// false for 'n' and when the input ends before either letter.
bool ask_yes_no(Console& console);

// Reads lines until one holds a number within [minimum, maximum], bounds
// included, and returns it (the bounds are exchanged if given the wrong way
// round). Only the first 29 characters of a line are looked at; the number is
// the longest prefix that strtod converts, after leading white space, so
// "12abc" gives 12 and a line without a number gives 0. A blank line gives
// default_value when the default lies within the bounds; otherwise it
// converts to 0 like any other text. Refused lines get no message. A last
// line that the input ends without a line feed is read like any other; when
// the input ends before an accepted line, returns default_value.
double read_number(Console& console, double minimum, double maximum, double default_value);

// Reads one line into buffer, which holds size characters including the
// terminating NUL, and returns buffer. The line break is not stored. A line of
// size - 1 characters or more is cut to its first size - 1 characters and the
// rest of it, line break included, is read and discarded. With size 0 nothing
// is read and buffer is left untouched. When the input ends first, buffer
// holds what was read up to the end. Only the line feed is taken off: the
// carriage return of a "\r\n" line stays, and a caller that uses the line as
// text (a file path, say) drops it.
char* read_input_line(Console& console, char* buffer, std::uint32_t size);

// read_input_line for callers that must tell an empty line from the end of
// the input: false when the input had already ended (nothing was read).
bool read_line_or_end(Console& console, char* buffer, std::uint32_t size);

// True when text (NUL-terminated) holds nothing but blanks, tabs, line feeds
// and carriage returns; the empty text is blank.
bool is_blank(const char* text);

// Reads and drops characters up to and including the next line feed, or up to
// the end of the input.
void discard_input_line(Console& console);

}  // namespace toneprint
