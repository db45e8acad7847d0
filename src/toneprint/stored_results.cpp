#include "toneprint/stored_results.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <optional>

#include "analysis/tuning.h"

namespace toneprint {
namespace {

using json = nlohmann::json;

// A file of results nests about ten levels deep; anything much deeper is
// not one, and is refused before the parser's stacks grow with it.
constexpr std::size_t max_depth = 64;
// The most values kept of a document: the passes' lists, which hold most of
// a file's numbers, are dropped as they are read, so this leaves room for
// some hundred thousand tones and bounds the memory a hostile file takes.
constexpr std::size_t max_kept_values = std::size_t{1} << 24;
// The most harmonics or partials a tone may list.
constexpr std::size_t max_stored_harmonics = 1024;

// Whether `text` nests arrays and objects deeper than max_depth (counted
// outside strings; the parser judges the rest).
bool too_deep(std::string_view text) {
  std::size_t depth = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > max_depth) return true;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return false;
}

const json* member(const json& object, const char* key) {
  if (!object.is_object()) return nullptr;
  const auto found = object.find(key);
  return found == object.end() ? nullptr : &*found;
}

std::optional<double> number(const json* value) {
  if (value == nullptr || !value->is_number()) return std::nullopt;
  const double x = value->get<double>();
  if (!std::isfinite(x)) return std::nullopt;
  return x;
}

// Why a tone's entries cannot be read, naming the recording and the tone.
class ToneReader {
 public:
  ToneReader(std::string file, std::size_t index) : file_(std::move(file)), index_(index) {}

  std::string read(const json& entry, std::vector<ComparedTone>& tones) {
    if (!entry.is_object()) return where() + "is not an object";
    ComparedTone tone;
    tone.file = file_;
    const std::optional<double> number_in_file = number(member(entry, "tone"));
    if (number_in_file && *number_in_file >= 1 && *number_in_file < 1e15 &&
        *number_in_file == std::floor(*number_in_file)) {
      tone.tone = static_cast<std::size_t>(*number_in_file);
    } else {
      tone.tone = index_;
    }
    const json* frequency = member(entry, "frequency_hz");
    if (frequency == nullptr || frequency->is_null()) return {};  // not measured
    const std::optional<double> hz = number(frequency);
    if (!hz || !(*hz > 0.0)) return lacks("frequency_hz", "a frequency above 0 Hz");
    tone.frequency_hz = *hz;

    const json* expected = member(entry, "expected_note");
    const bool by_expected = expected != nullptr && !expected->is_null();
    const char* note_key = by_expected ? "expected_note" : "note";
    const json* note = by_expected ? expected : member(entry, "note");
    const std::optional<int> midi =
        note != nullptr && note->is_string() ? parse_note(note->get_ref<const std::string&>())
                                             : std::nullopt;
    if (!midi) return lacks(note_key, "a note name");
    tone.note = *midi;
    if (by_expected) {
      const json* from = member(entry, "expected_from");
      tone.expected = from != nullptr && from->is_string() && *from == "expectation";
    }

    const char* cents_key = member(entry, "deviation_cents") != nullptr ? "deviation_cents" : "cents";
    const json* cents = member(entry, cents_key);
    if (cents == nullptr || !(cents->is_null() || number(cents))) {
      return lacks(cents_key, "a number of cents");
    }
    tone.deviation_cents = number(cents);

    const json* partials = member(entry, "partials");
    std::string error = partials != nullptr && partials->is_array()
                            ? read_partials(*partials, tone.amplitudes)
                            : read_harmonics(member(entry, "harmonics"), tone.amplitudes);
    if (!error.empty()) return error;
    error = read_descriptors(member(entry, "descriptors"), tone.descriptors);
    if (!error.empty()) return error;
    tones.push_back(std::move(tone));
    return {};
  }

 private:
  std::string where() const {
    return "recording \"" + file_ + "\", tone " + std::to_string(index_) + ": ";
  }
  std::string lacks(const std::string& key, const char* what) const {
    return where() + "\"" + key + "\" is missing or not " + what;
  }

  std::string read_harmonics(const json* list, std::vector<std::optional<double>>& amplitudes) {
    if (list == nullptr || !list->is_array() || list->size() > max_stored_harmonics) {
      return lacks("harmonics", "a list of amplitudes");
    }
    for (const json& value : *list) {
      if (!value.is_null() && !number(&value)) return lacks("harmonics", "a list of amplitudes");
      amplitudes.push_back(number(&value));
    }
    return {};
  }

  // As compared_tones takes them: partial n's amplitude at index n - 1,
  // none where it lay below the noise.
  std::string read_partials(const json& list, std::vector<std::optional<double>>& amplitudes) {
    for (const json& partial : list) {
      const std::optional<double> n = number(member(partial, "number"));
      const json* below = member(partial, "below_noise");
      const json* amplitude = member(partial, "amplitude");
      if (!n || *n < 1 || *n > static_cast<double>(max_stored_harmonics) || *n != std::floor(*n) ||
          below == nullptr || !below->is_boolean() || amplitude == nullptr ||
          !(amplitude->is_null() || number(amplitude))) {
        return lacks("partials", "a list of partials with number, amplitude and below_noise");
      }
      const auto index = static_cast<std::size_t>(*n) - 1;
      if (amplitudes.size() <= index) amplitudes.resize(index + 1);
      if (!below->get<bool>()) amplitudes[index] = number(amplitude);
    }
    return {};
  }

  std::string read_descriptors(const json* entry, std::optional<TimbreDescriptors>& descriptors) {
    if (entry == nullptr || entry->is_null()) return {};
    TimbreDescriptors d;
    const struct {
      const char* key;
      double* value;
    } numbers[] = {{"centroid_harmonic", &d.centroid_harmonic},
                   {"centroid_hz", &d.centroid_hz},
                   {"t1", &d.t1},
                   {"t2", &d.t2},
                   {"t3", &d.t3}};
    for (const auto& n : numbers) {
      const std::optional<double> value = number(member(*entry, n.key));
      if (!value) return lacks(std::string("descriptors.") + n.key, "a number");
      *n.value = *value;
    }
    for (const auto& [key, value] : {std::pair{"odd_even_db", &d.odd_even_db},
                                     std::pair{"slope_db_per_octave", &d.slope_db_per_octave}}) {
      const json* given = member(*entry, key);
      if (given == nullptr || !(given->is_null() || number(given))) {
        return lacks(std::string("descriptors.") + key, "a number or null");
      }
      *value = number(given);
    }
    const std::optional<double> used = number(member(*entry, "harmonics_used"));
    if (!used || *used < 0 || *used > static_cast<double>(max_stored_harmonics)) {
      return lacks("descriptors.harmonics_used", "a count");
    }
    d.harmonics_used = static_cast<int>(*used);
    descriptors = d;
    return {};
  }

  std::string file_;
  std::size_t index_;
};

std::string read_document(const json& document, std::vector<ComparedTone>& tones) {
  const json* program = member(document, "program");
  if (program == nullptr || !program->is_string() || *program != "toneprint-batch") {
    return "not a file of toneprint-batch's results";
  }
  const json* version = member(document, "format_version");
  if (version == nullptr || (version->is_number_integer() && version->get<std::int64_t>() < 2)) {
    return "results in an older layout (written before toneprint-batch recorded format_version), "
           "which this version does not read: analyse the recordings again";
  }
  if (!version->is_number_integer()) return "format_version is not a whole number";
  if (version->get<std::int64_t>() > results_format_version) {
    return "results in layout " + std::to_string(version->get<std::int64_t>()) +
           ", newer than this toneprint-batch reads (" + std::to_string(results_format_version) +
           ")";
  }
  const json* recordings = member(document, "recordings");
  if (recordings == nullptr || !recordings->is_array()) return "no list of recordings";
  std::vector<ComparedTone> read;
  for (std::size_t r = 0; r < recordings->size(); ++r) {
    const json& recording = (*recordings)[r];
    const json* file = member(recording, "file");
    const std::string name = file != nullptr && file->is_string()
                                 ? file->get<std::string>()
                                 : "number " + std::to_string(r + 1);
    const json* list = member(recording, "tones");
    if (list == nullptr) continue;  // not opened: its error says why
    if (!list->is_array()) return "recording \"" + name + "\": \"tones\" is not a list";
    for (std::size_t i = 0; i < list->size(); ++i) {
      std::string error = ToneReader(name, i + 1).read((*list)[i], read);
      if (!error.empty()) return error;
    }
  }
  tones.insert(tones.end(), std::make_move_iterator(read.begin()),
               std::make_move_iterator(read.end()));
  return {};
}

}  // namespace

std::string read_stored_tones(std::string_view text, std::vector<ComparedTone>& tones) {
  if (too_deep(text)) {
    return "not a file of toneprint-batch's results (nested deeper than " +
           std::to_string(max_depth) + " levels)";
  }
  std::size_t kept = 0;
  bool too_many = false;
  // The passes' lists are dropped as they are read; values past the limit
  // are not kept.
  const json::parser_callback_t keep = [&](int, json::parse_event_t event, json& parsed) {
    if (event == json::parse_event_t::key && parsed.is_string() &&
        (parsed == "measured" || parsed == "failed")) {
      return false;
    }
    if (event == json::parse_event_t::value || event == json::parse_event_t::object_start ||
        event == json::parse_event_t::array_start) {
      if (++kept > max_kept_values) {
        too_many = true;
        return false;
      }
    }
    return true;
  };
  json document;
  try {
    document = json::parse(text.begin(), text.end(), keep);
  } catch (const json::exception& e) {
    // "[json.exception.parse_error.101] parse error at line 1, column 2: ..."
    std::string what = e.what();
    const std::size_t bracket = what.find("] ");
    if (!what.empty() && what.front() == '[' && bracket != std::string::npos) what.erase(0, bracket + 2);
    return "not JSON: " + what;
  } catch (const std::exception& e) {
    return std::string("cannot be read: ") + e.what();
  }
  if (too_many) {
    return "holds more than " + std::to_string(max_kept_values) +
           " values, more than a file of results";
  }
  try {
    return read_document(document, tones);
  } catch (const std::exception& e) {
    return std::string("cannot be read: ") + e.what();
  }
}

std::string read_stored_file(const std::string& path, std::vector<ComparedTone>& tones) {
  std::FILE* const file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return std::string("cannot be opened (") + std::strerror(errno) + ")";
  // Read in pieces up to one byte past the limit, so that neither a huge
  // file nor an endless one (a device) is read whole.
  std::string text;
  std::string error;
  char buffer[1 << 16];
  for (;;) {
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
    text.append(buffer, got);
    if (text.size() > max_results_file_bytes) {
      error = "larger than " + std::to_string(max_results_file_bytes) + " bytes";
      break;
    }
    if (got < sizeof buffer) {
      if (std::ferror(file) != 0) error = std::string("cannot be read (") + std::strerror(errno) + ")";
      break;
    }
  }
  std::fclose(file);
  if (!error.empty()) return error;
  return read_stored_tones(text, tones);
}

bool is_results_file(std::string_view path) {
  constexpr std::string_view extension = ".json";
  if (path.size() < extension.size()) return false;
  const std::string_view end = path.substr(path.size() - extension.size());
  for (std::size_t i = 0; i < extension.size(); ++i) {
    const char c = end[i];
    const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    if (lower != extension[i]) return false;
  }
  return true;
}

}  // namespace toneprint
