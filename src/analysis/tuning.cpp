#include "analysis/tuning.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <system_error>

#include "analysis/tone_results.h"

namespace toneprint {

namespace {

// Plain ASCII classes: the C library's depend on the locale, and a byte of
// a UTF-8 letter is neither a Latin letter nor a digit here.
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_space(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
  return text;
}

// A piece of the user's text in a message: quoted, cut short when long, and
// with control bytes written out, so that a message stays one readable line.
std::string quoted(std::string_view text, std::size_t most = 40) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size() && i < most; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    } else {
      out += text[i];
    }
  }
  if (text.size() > most) out += "...";
  return out + "\"";
}

// The pitch class of a note letter in either case, or -1.
int letter_class(char c) {
  constexpr std::string_view letters = "CDEFGAB";
  constexpr std::array<int, 7> classes = {0, 2, 4, 5, 7, 9, 11};
  const char upper = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  const std::size_t at = letters.find(upper);
  return at == std::string_view::npos ? -1 : classes[at];
}

// A note name at the start of `text`: its MIDI number (possibly outside 0
// to 127) and how many characters it takes, or none. The octave is one
// digit or "-1"; a digit right after it makes the whole no note name.
struct NameMatch {
  int midi = 0;
  std::size_t length = 0;
};
std::optional<NameMatch> match_note_name(std::string_view text, bool s_sharp = false) {
  if (text.empty()) return std::nullopt;
  const int letter = letter_class(text[0]);
  if (letter < 0) return std::nullopt;
  std::size_t at = 1;
  int accidental = 0;
  if (at < text.size() &&
      (text[at] == '#' || text[at] == 'b' || (s_sharp && text[at] == 's'))) {
    accidental = text[at] == 'b' ? -1 : 1;
    ++at;
  }
  int octave = 0;
  if (at + 1 < text.size() && text[at] == '-' && text[at + 1] == '1') {
    octave = -1;
    at += 2;
  } else if (at < text.size() && is_digit(text[at])) {
    octave = text[at] - '0';
    ++at;
  } else {
    return std::nullopt;
  }
  if (at < text.size() && is_digit(text[at])) return std::nullopt;
  return NameMatch{(octave + 1) * 12 + letter + accidental, at};
}

// A whole number of at most `digits` digits and nothing else, or none.
std::optional<std::size_t> digits_number(std::string_view text, std::size_t digits) {
  if (text.empty() || text.size() > digits || !std::all_of(text.begin(), text.end(), is_digit)) {
    return std::nullopt;
  }
  std::size_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

// A MIDI number of one to three digits, or none.
std::optional<int> midi_number(std::string_view text) {
  const std::optional<std::size_t> value = digits_number(text, 3);
  if (!value || *value > 127) return std::nullopt;
  return static_cast<int>(*value);
}

bool valid_midi(int midi) { return midi >= 0 && midi <= 127; }

// Reads at most `limit` bytes of the file at `path`; a longer file is
// refused after limit + 1 bytes, so that neither a huge file nor an endless
// one (a device) is read whole.
struct FileText {
  std::optional<std::string> text;
  std::string error;
};
FileText read_bounded(const std::string& path, std::size_t limit) {
  FileText result;
  std::FILE* const file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    result.error = path + ": cannot be opened (" + std::strerror(errno) + ")";
    return result;
  }
  std::string text(limit + 1, '\0');
  const std::size_t got = std::fread(text.data(), 1, text.size(), file);
  const bool failed = std::ferror(file) != 0;
  const int reason = errno;
  std::fclose(file);
  if (failed) {
    result.error = path + ": cannot be read (" + std::strerror(reason) + ")";
  } else if (got > limit) {
    result.error = path + ": larger than " + std::to_string(limit) + " bytes";
  } else {
    text.resize(got);
    result.text = std::move(text);
  }
  return result;
}

// The file name of a path, without its folders.
std::string_view file_name_of(std::string_view path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view next_line(std::string_view& text) {
  const std::size_t end = text.find('\n');
  std::string_view line = text.substr(0, end);
  text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

ExpectationParse expectation_error(std::string message) {
  ExpectationParse parse;
  parse.error = std::move(message);
  return parse;
}

ExpectationParse expectation_file(const std::string& path) {
  if (path.empty()) return expectation_error("no file named after '@'");
  const FileText file = read_bounded(path, max_expectation_file_bytes);
  if (!file.text) return expectation_error(file.error);
  ExpectationParse parse;
  std::string_view rest = *file.text;
  for (std::size_t line_number = 1; !rest.empty(); ++line_number) {
    const std::string_view line = trimmed(next_line(rest));
    if (line.empty() || line.front() == '#') continue;
    const std::optional<int> midi = parse_note(line);
    if (!midi) {
      return expectation_error(path + " line " + std::to_string(line_number) + ": " + quoted(line) +
                               " is not a note");
    }
    if (parse.expectation.notes.size() == max_expected_notes) {
      return expectation_error(path + ": more than " + std::to_string(max_expected_notes) +
                               " notes");
    }
    parse.expectation.notes.push_back({*midi, 0.0});
  }
  if (parse.expectation.notes.empty()) return expectation_error(path + ": holds no note");
  parse.expectation.kind = ExpectationKind::list;
  return parse;
}

ExpectationParse expectation_list(std::string_view text) {
  if (trimmed(text).empty()) return expectation_error("no notes given");
  ExpectationParse parse;
  std::size_t entry = 1;
  for (;; ++entry) {
    const std::size_t comma = text.find(',');
    const std::string_view item = trimmed(text.substr(0, comma));
    const std::optional<int> midi = parse_note(item);
    if (!midi) {
      return expectation_error(
          "entry " + std::to_string(entry) + ": " +
          (item.empty() ? std::string("empty") : quoted(item) + " is not a note"));
    }
    if (parse.expectation.notes.size() == max_expected_notes) {
      return expectation_error("more than " + std::to_string(max_expected_notes) + " notes");
    }
    parse.expectation.notes.push_back({*midi, 0.0});
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  parse.expectation.kind = ExpectationKind::list;
  return parse;
}

// The largest ratio a scale note may have (2^31), and the same interval in
// cents, which also bounds notes given in cents: a note above it is a typo,
// and would put the targets beyond any frequency.
constexpr std::uint64_t max_ratio_term = std::uint64_t{1} << 31;
constexpr double max_note_cents = 1200.0 * 31.0;

// A whole number of digits from 1 to max_ratio_term, or none.
std::optional<std::uint64_t> ratio_term(std::string_view text) {
  if (text.empty() || !std::all_of(text.begin(), text.end(), is_digit)) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > max_ratio_term) return std::nullopt;
  }
  if (value == 0) return std::nullopt;
  return value;
}

// A scale note's first token in cents: a ratio "p/q", a whole number "p"
// (p/1), or cents written with a '.' ("-3.5", "700.", ".5"), or none.
std::optional<double> scale_note_cents(std::string_view token) {
  if (token.find('.') != std::string_view::npos) {
    std::string_view digits = token;
    if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) {
      digits.remove_prefix(1);
    }
    const std::size_t point = digits.find('.');
    const std::string_view whole = digits.substr(0, point);
    const std::string_view fraction = digits.substr(point + 1);
    const auto all_digits = [](std::string_view part) {
      return std::all_of(part.begin(), part.end(), is_digit);
    };
    if (whole.size() + fraction.size() == 0 || !all_digits(whole) || !all_digits(fraction)) {
      return std::nullopt;
    }
    // from_chars takes no '+'; the grammar above has ruled out the rest of
    // what it would accept (exponents, "inf", "nan").
    const std::string_view number = token.front() == '+' ? token.substr(1) : token;
    double value = 0.0;
#if defined(__EMSCRIPTEN__)
    // Emscripten's C++ library has no from_chars for double; its C library's
    // strtod reads a point whatever the locale, and rounds as correctly.
    const std::string copy(number);
    char* stop = nullptr;
    value = std::strtod(copy.c_str(), &stop);
    if (stop != copy.c_str() + copy.size() || !std::isfinite(value)) return std::nullopt;
#else
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc{} || end != number.data() + number.size() || !std::isfinite(value)) {
      return std::nullopt;
    }
#endif
    return value;
  }
  const std::size_t slash = token.find('/');
  const std::optional<std::uint64_t> p = ratio_term(token.substr(0, slash));
  const std::optional<std::uint64_t> q = slash == std::string_view::npos
                                             ? std::optional<std::uint64_t>{1}
                                             : ratio_term(token.substr(slash + 1));
  if (!p || !q) return std::nullopt;
  return 1200.0 * std::log2(static_cast<double>(*p) / static_cast<double>(*q));
}

TemperamentRead temperament_error(std::string message) {
  TemperamentRead read;
  read.error = std::move(message);
  return read;
}

std::string line_error(std::size_t line_number, const std::string& message) {
  return "line " + std::to_string(line_number) + ": " + message;
}

std::string format_cents(double cents) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", cents);
  return text;
}

// The degrees and period of a tuning's temperament, equal temperament when
// it has none.
struct Scale {
  std::span<const double> degrees;
  double period = 1200.0;
};
constexpr std::array<double, 12> equal_degrees = {0.0,   100.0, 200.0, 300.0, 400.0,  500.0,
                                                  600.0, 700.0, 800.0, 900.0, 1000.0, 1100.0};
Scale scale_of(const Tuning& tuning) {
  if (tuning.temperament.degrees.empty()) return {equal_degrees, 1200.0};
  return {tuning.temperament.degrees, tuning.temperament.period_cents};
}

// Floor division and its non-negative remainder.
std::int64_t floor_div(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// The cents of key `midi` in the scale laid on the root, before the stretch.
double scale_cents(const Scale& scale, int root, std::int64_t midi) {
  const auto n = static_cast<std::int64_t>(scale.degrees.size());
  const std::int64_t key = midi - (60 + std::int64_t{root});
  const std::int64_t octaves = floor_div(key, n);
  const std::int64_t degree = key - octaves * n;
  return static_cast<double>(octaves) * scale.period +
         scale.degrees[static_cast<std::size_t>(degree)];
}

}  // namespace

std::optional<int> parse_note(std::string_view text) {
  if (const std::optional<int> number = midi_number(text)) return number;
  const std::optional<NameMatch> name = match_note_name(text);
  if (!name || name->length != text.size() || !valid_midi(name->midi)) return std::nullopt;
  return name->midi;
}

std::optional<int> parse_pitch_class(std::string_view text) {
  // Any octave will do; the fourth keeps Cb and B# within MIDI's range.
  const std::string named = std::string(text) + "4";
  if (text.empty() || text.size() > 2 || is_digit(text.back())) return std::nullopt;
  const std::optional<int> midi = parse_note(named);
  if (!midi) return std::nullopt;
  return *midi % 12;
}

std::string pitch_class_name(int pitch_class) {
  std::string name = note_name(60 + pitch_class);  // octave 4
  name.pop_back();
  return name;
}

NoteInName note_in_file_name(std::string_view path) {
  const std::string_view name = file_name_of(path);
  std::string_view stem = name.substr(0, name.rfind('.'));
  NoteInName result;
  std::vector<std::string_view> found;
  for (std::size_t i = 0; i < stem.size(); ++i) {
    if (i > 0 && (is_letter(stem[i - 1]) || is_digit(stem[i - 1]))) continue;
    // File names often spell a sharp 's' ("Fs3"), since '#' is awkward
    // in them.
    const std::optional<NameMatch> match = match_note_name(stem.substr(i), true);
    if (!match || !valid_midi(match->midi)) continue;
    const std::size_t end = i + match->length;
    if (end < stem.size() && is_letter(stem[end])) continue;
    found.push_back(stem.substr(i, match->length));
    result.midi = match->midi;
  }
  if (found.size() > 1) {
    result.midi.reset();
    result.error =
        std::string(path) + ": " + std::to_string(found.size()) + " notes in the file name (";
    for (std::size_t i = 0; i < found.size(); ++i) {
      result.error += (i > 0 ? ", " : "") + std::string(found[i]);
    }
    result.error += ")";
  } else if (found.empty()) {
    result.midi = midi_number(stem);
    if (!result.midi) result.error = std::string(path) + ": no note in the file name";
  }
  return result;
}

ExpectationParse parse_expectation(std::string_view text) {
  if (text == "filename") return {{ExpectationKind::file_name, {}}, {}};
  if (text == "smpl") return {{ExpectationKind::sampler, {}}, {}};
  if (!text.empty() && text.front() == '@') return expectation_file(std::string(text.substr(1)));
  return expectation_list(text);
}

// The tables give each pitch class's cents above C. Where a temperament is
// defined by its fifths, the values are derived from these intervals:
//   pure fifth P = 1200 log2(3/2) = 701.955 c;
//   syntonic comma S = 1200 log2(81/80) = 21.506 c;
//   Pythagorean comma K = 1200 log2(3^12/2^19) = 23.460 c;
//   schisma K - S = 1.954 c;
// each note being the sum of the fifths that lead to it from C, reduced to
// the octave. They agree with the cents tables of Barbour ("Tuning and
// Temperament: A Historical Survey", 1951) to the 0.001 c that tables give.
const std::array<BuiltInTemperament, 9> built_in_temperaments = {{
    {"equal",
     "twelve equal semitones of 100 cents",
     {0.0, 100.0, 200.0, 300.0, 400.0, 500.0, 600.0, 700.0, 800.0, 900.0, 1000.0, 1100.0}},
    // Pythagorean tuning: pure fifths (P) from Eb up to G#; the wolf, a
    // Pythagorean comma narrow, lies between G# and Eb.
    {"pythagorean",
     "pure fifths from Eb to G#, the wolf between G# and Eb",
     {0.0, 113.685006057713, 203.910001730775, 294.134997403838, 407.82000346155, 498.044999134613,
      611.730005192325, 701.955000865387, 815.6400069231, 905.865002596162, 996.089998269225,
      1109.775004326937}},
    // Quarter-comma meantone (Aron, "Toscanello", 1523): eleven fifths of
    // P - S/4, that is (3/2)/(81/80)^(1/4) = 5^(1/4), from Eb to G#; the
    // major thirds C-E, D-F#, ... are pure 5/4.
    {"quarter-comma-meantone",
     "fifths a quarter syntonic comma narrow, Eb to G#; pure thirds",
     {0.0, 76.048999263461, 193.156856932417, 310.264714601374, 386.313713864835, 503.421571533791,
      579.470570797253, 696.578428466209, 772.62742772967, 889.735285398626, 1006.843143067583,
      1082.892142331043}},
    // Sixth-comma meantone (Silbermann's organs, after Sauveur and Romieu):
    // eleven fifths of P - S/6 = 698.371 c from Eb to G#; the tritone C-F#
    // is a pure 45/32.
    {"sixth-comma-meantone",
     "fifths a sixth syntonic comma narrow, Eb to G#",
     {0.0, 88.594334861544, 196.74123853187, 304.888142202195, 393.48247706374, 501.629380734065,
      590.223715595609, 698.370619265935, 786.964954127478, 895.111857797805, 1003.25876146813,
      1091.853096329674}},
    // Werckmeister's third temperament ("Musicalische Temperatur", 1691):
    // C-G, G-D, D-A and B-F# are P - K/4, the other eight fifths pure.
    {"werckmeister-iii",
     "Werckmeister III (1691): four fifths a quarter comma narrow",
     {0.0, 90.224995673063, 192.17999653845, 294.134997403838, 390.224995673062, 498.044999134613,
      588.269994807675, 696.089998269225, 792.179996538451, 888.269994807675, 996.089998269225,
      1092.17999653845}},
    // Kirnberger's third temperament (his letter to Forkel, 1779): the
    // four fifths C-G-D-A-E of P - S/4 (C-E a pure 5/4), F#-C# a schisma
    // narrow, the others pure.
    {"kirnberger-iii",
     "Kirnberger III (1779): C-E a pure third by four meantone fifths",
     {0.0, 90.224995673063, 193.156856932417, 294.134997403838, 386.313713864835, 498.044999134613,
      590.22371559561, 696.578428466209, 792.179996538451, 889.735285398626, 996.089998269225,
      1088.268714730222}},
    // Vallotti's temperament ("Della scienza teorica e pratica della
    // moderna musica", 1779): the six fifths F-C-G-D-A-E-B of P - K/6, the
    // six from B round to F pure.
    {"vallotti",
     "Vallotti: F to B in fifths a sixth Pythagorean comma narrow",
     {0.0, 94.134997403838, 196.089998269225, 298.044999134613, 392.17999653845, 501.955000865387,
      592.179996538451, 698.044999134613, 796.089998269226, 894.134997403838, 1000.0,
      1090.224995673063}},
    // Thomas Young's temperament (Philosophical Transactions, 1800; his
    // second, "Young II"): the six fifths C-G-D-A-E-B-F# of P - K/6, the
    // six from F# round to C pure; Vallotti's a fifth higher.
    {"young",
     "Young (1800): C to F# in fifths a sixth Pythagorean comma narrow",
     {0.0, 90.224995673063, 196.089998269225, 294.134997403838, 392.17999653845, 498.044999134613,
      588.269994807675, 698.044999134613, 792.179996538451, 894.134997403838, 996.089998269225,
      1090.224995673063}},
    // Five-limit just intonation on C: the major scale of pure thirds and
    // fifths (9/8, 5/4, 4/3, 3/2, 5/3, 15/8), with 16/15, 6/5, 45/32, 8/5
    // and 9/5 (the greater minor seventh) between; each 1200 log2(ratio).
    {"just",
     "five-limit just intonation on C (16/15, 9/8, 6/5, 5/4, ... 15/8)",
     {0.0, 111.731285269778, 203.910001730775, 315.641287000553, 386.313713864835, 498.044999134613,
      590.22371559561, 701.955000865387, 813.686286135165, 884.358712999447, 1017.59628786594,
      1088.268714730222}},
}};

TemperamentRead parse_scala(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) {
    const std::size_t line_number = 1 + static_cast<std::size_t>(std::count(
                                            text.begin(), text.begin() + text.find('\0'), '\n'));
    return temperament_error(line_error(line_number, "holds a NUL byte"));
  }
  std::optional<std::string_view> description;
  std::optional<std::size_t> count;
  std::vector<double> notes;
  std::size_t line_number = 0;
  std::size_t last_line = 0;  // of the note before
  std::string_view rest = text;
  while (!rest.empty()) {
    const std::string_view line = next_line(rest);
    ++line_number;
    if (!line.empty() && line.front() == '!') continue;
    if (!description) {
      description = trimmed(line);
      continue;
    }
    if (!count) {
      const std::string_view digits = trimmed(line);
      const std::optional<std::size_t> value = digits_number(digits, 5);
      if (!value || *value == 0 || *value > max_scale_degrees) {
        return temperament_error(line_error(line_number, quoted(digits) +
                                                             " is not a count of notes from 1 to " +
                                                             std::to_string(max_scale_degrees)));
      }
      count = value;
      notes.reserve(*value);
      continue;
    }
    const std::string_view body = trimmed(line);
    if (notes.size() == *count) {
      if (body.empty()) continue;
      return temperament_error(line_error(line_number, quoted(body) + " follows the last of the " +
                                                           std::to_string(*count) + " notes"));
    }
    const std::string_view token = body.substr(0, body.find_first_of(" \t"));
    const std::optional<double> cents = scale_note_cents(token);
    if (!cents) {
      return temperament_error(line_error(line_number, quoted(token) + " is not a ratio or cents"));
    }
    if (*cents <= 0.0) {
      return temperament_error(
          line_error(line_number,
                     quoted(token) + " is not above the unison (" + format_cents(*cents) + " c)"));
    }
    if (*cents > max_note_cents) {
      return temperament_error(
          line_error(line_number, quoted(token) + " is more than 31 octaves above the unison"));
    }
    if (!notes.empty() && *cents <= notes.back()) {
      return temperament_error(line_error(
          line_number, quoted(token) + " (" + format_cents(*cents) +
                           " c) does not rise above the note before it on line " +
                           std::to_string(last_line) + " (" + format_cents(notes.back()) + " c)"));
    }
    notes.push_back(*cents);
    last_line = line_number;
  }
  if (!description) return temperament_error("the file holds no description line");
  if (!count) return temperament_error("the file ends before the count of notes");
  if (notes.size() < *count) {
    return temperament_error("the file ends after " + std::to_string(notes.size()) + " of " +
                             std::to_string(*count) + " notes");
  }
  Temperament temperament;
  temperament.name = std::string(*description);
  temperament.period_cents = notes.back();
  temperament.degrees.reserve(notes.size());
  temperament.degrees.push_back(0.0);
  temperament.degrees.insert(temperament.degrees.end(), notes.begin(), notes.end() - 1);
  TemperamentRead read;
  read.temperament = std::move(temperament);
  return read;
}

TemperamentRead read_temperament(std::string_view name_or_path) {
  const auto* const built_in =
      std::find_if(built_in_temperaments.begin(), built_in_temperaments.end(),
                   [&](const BuiltInTemperament& entry) { return name_or_path == entry.name; });
  if (built_in != built_in_temperaments.end()) {
    TemperamentRead read;
    read.temperament =
        Temperament{built_in->name, {built_in->cents.begin(), built_in->cents.end()}, 1200.0};
    return read;
  }
  const auto scale_file = [&] {
    constexpr std::string_view extension = ".scl";
    if (name_or_path.size() <= extension.size()) return false;
    const std::string_view end = name_or_path.substr(name_or_path.size() - extension.size());
    return std::equal(end.begin(), end.end(), extension.begin(), [](char a, char b) {
      return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
    });
  };
  if (!scale_file()) {
    std::string names;
    for (const BuiltInTemperament& entry : built_in_temperaments) {
      names += (names.empty() ? "" : ", ") + std::string(entry.name);
    }
    return temperament_error(quoted(name_or_path, name_or_path.size()) +
                             " is neither a temperament built in (" + names +
                             ") nor a scale file (.scl)");
  }
  const std::string path(name_or_path);
  const FileText file = read_bounded(path, max_scale_file_bytes);
  if (!file.text) return temperament_error(file.error);
  TemperamentRead read = parse_scala(*file.text);
  if (!read.temperament) return temperament_error(path + ": " + read.error);
  if (read.temperament->name.empty()) read.temperament->name = std::string(file_name_of(path));
  return read;
}

double cents_from(double frequency, double target) {
  return 1200.0 * std::log2(frequency / target);
}

double target_hz(const Tuning& tuning, const MidiNote& note) {
  const Scale scale = scale_of(tuning);
  const double cents =
      scale_cents(scale, tuning.root, note.midi) - scale_cents(scale, tuning.root, 69) +
      tuning.stretch_cents * (static_cast<double>(note.midi) - 69.0) / 12.0 + note.cents;
  return tuning.a4 * std::exp2(cents / 1200.0);
}

TargetNote nearest_target(const Tuning& tuning, double frequency) {
  TargetNote best;
  best.hz = target_hz(tuning, {69, 0.0});
  best.cents = std::numeric_limits<double>::quiet_NaN();
  if (!(frequency > 0.0) || !std::isfinite(frequency)) return best;
  best.cents = cents_from(frequency, best.hz);

  // With the stretch, a scale degree d over octaves o sits at
  // o·P' + degree'(d) with P' = P + stretch·N/12: linear in o. So for each
  // degree the nearest octave follows by division, and the nearest of those
  // over all N degrees is the nearest key, whatever the scale's size and
  // even where a large stretch makes the keys overtake one another.
  const Scale scale = scale_of(tuning);
  const auto n = static_cast<std::int64_t>(scale.degrees.size());
  const double stretched_period =
      scale.period + tuning.stretch_cents * static_cast<double>(n) / 12.0;
  const double wanted = cents_from(frequency, tuning.a4) + scale_cents(scale, tuning.root, 69);
  // Keys stay well within int, whatever the frequency.
  const double most_octaves = std::floor(1073741824.0 / static_cast<double>(n));
  for (std::int64_t d = 0; d < n; ++d) {
    const std::int64_t first_key = 60 + std::int64_t{tuning.root} + d;
    const double at_zero = scale.degrees[static_cast<std::size_t>(d)] +
                           tuning.stretch_cents * static_cast<double>(first_key - 69) / 12.0;
    double octaves = std::round((wanted - at_zero) / stretched_period);
    if (!std::isfinite(octaves)) octaves = 0.0;
    octaves = std::clamp(octaves, -most_octaves, most_octaves);
    for (std::int64_t o = static_cast<std::int64_t>(octaves) - 1;
         o <= static_cast<std::int64_t>(octaves) + 1; ++o) {
      const std::int64_t key = first_key + o * n;
      if (key < std::numeric_limits<int>::min() || key > std::numeric_limits<int>::max()) continue;
      const double hz = target_hz(tuning, {static_cast<int>(key), 0.0});
      const double cents = cents_from(frequency, hz);
      if (std::abs(cents) < std::abs(best.cents)) best = {static_cast<int>(key), hz, cents};
    }
  }
  return best;
}

std::optional<BestReference> best_reference(const Tuning& tuning,
                                            std::span<const JudgedTone> tones) {
  std::vector<double> implied;
  implied.reserve(tones.size());
  for (const JudgedTone& tone : tones) {
    if (!(tone.frequency > 0.0) || !std::isfinite(tone.frequency)) continue;
    const double a4 =
        tuning.a4 * std::exp2(cents_from(tone.frequency, target_hz(tuning, tone.note)) / 1200.0);
    if (std::isfinite(a4) && a4 > 0.0) implied.push_back(a4);
  }
  if (implied.empty()) return std::nullopt;
  const auto median = [](std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t half = values.size() / 2;
    return values.size() % 2 == 1 ? values[half] : (values[half - 1] + values[half]) / 2.0;
  };
  BestReference best;
  best.tones = implied.size();
  best.a4_hz = median(implied);
  std::vector<double> deviations(implied.size());
  std::transform(implied.begin(), implied.end(), deviations.begin(),
                 [&](double a4) { return std::abs(a4 - best.a4_hz); });
  // 1.4826 MAD estimates the standard deviation of normal values; the
  // median's standard error is 1.2533 (sqrt(pi/2)) times the mean's.
  const double sigma = 1.4826 * median(std::move(deviations));
  best.interval_hz = 1.96 * 1.2533 * sigma / std::sqrt(static_cast<double>(implied.size()));
  return best;
}

}  // namespace toneprint
