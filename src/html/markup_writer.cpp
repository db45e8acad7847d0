#include "html/markup_writer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>

namespace toneprint {

std::string escape_markup(std::string_view text, bool attribute) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += attribute ? "&quot;" : "\""; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
          escaped += "\xEF\xBF\xBD";
        } else {
          escaped += c;
        }
    }
  }
  return escaped;
}

MarkupWriter::MarkupWriter(std::string& out, int decimals) : out_(out), decimals_(decimals) {}

MarkupWriter::Element::Element(Element&& other) noexcept
    : writer_(std::exchange(other.writer_, nullptr)) {}

MarkupWriter::Element::~Element() {
  if (writer_ != nullptr) writer_->close();
}

MarkupWriter::Element MarkupWriter::open(std::string_view name) { return start(name, Kind::svg); }

MarkupWriter::Element MarkupWriter::open_html(std::string_view name) {
  static constexpr std::array<std::string_view, 5> void_elements = {"br", "col", "hr", "link",
                                                                    "meta"};
  const bool is_void =
      std::any_of(void_elements.begin(), void_elements.end(),
                  [name](std::string_view void_name) { return name == void_name; });
  return start(name, is_void ? Kind::html_void : Kind::html);
}

MarkupWriter::Element MarkupWriter::start(std::string_view name, Kind kind) {
  end_start_tag();
  out_ += '<';
  out_ += name;
  in_start_tag_ = true;
  open_.push_back({std::string(name), kind});
  return Element(this);
}

void MarkupWriter::end_start_tag() {
  if (!in_start_tag_) return;
  out_ += '>';
  in_start_tag_ = false;
}

void MarkupWriter::close() {
  const Open closing = std::move(open_.back());
  open_.pop_back();
  if (in_start_tag_) {
    in_start_tag_ = false;
    switch (closing.kind) {
      case Kind::svg: out_ += "/>"; return;
      case Kind::html_void: out_ += " />"; return;
      case Kind::html: out_ += '>'; break;
    }
  }
  out_ += "</";
  out_ += closing.name;
  out_ += '>';
}

std::string MarkupWriter::number(double value) const {
  if (!std::isfinite(value)) return "0";
  std::array<char, 64> digits{};
#if defined(__EMSCRIPTEN__)
  // Emscripten's C++ library has no to_chars for double; its C library's
  // printf rounds the exact value as to_chars does, in every locale.
  const int length = std::snprintf(digits.data(), digits.size(), "%.*f", decimals_, value);
  if (length < 0 || static_cast<std::size_t>(length) >= digits.size()) return "0";
  std::string written(digits.data(), static_cast<std::size_t>(length));
#else
  auto [end, error] = std::to_chars(digits.data(), digits.data() + digits.size(), value,
                                    std::chars_format::fixed, decimals_);
  if (error != std::errc()) return "0";
  std::string written(digits.data(), end);
#endif
  if (written.find('.') != std::string::npos) {
    while (written.back() == '0') written.pop_back();
    if (written.back() == '.') written.pop_back();
  }
  if (written == "-0") written = "0";
  return written;
}

MarkupWriter& MarkupWriter::attr(std::string_view name, double value) {
  return attr(name, number(value));
}

MarkupWriter& MarkupWriter::attr(std::string_view name, std::string_view text) {
  out_ += ' ';
  out_ += name;
  out_ += "=\"";
  out_ += escape_markup(text, true);
  out_ += '"';
  return *this;
}

void MarkupWriter::text(std::string_view text) {
  end_start_tag();
  out_ += escape_markup(text, false);
}

void MarkupWriter::raw(std::string_view markup) {
  end_start_tag();
  out_ += markup;
}

void MarkupWriter::element(std::string_view name, std::string_view text) {
  const Element element = open_html(name);
  this->text(text);
}

}  // namespace toneprint
