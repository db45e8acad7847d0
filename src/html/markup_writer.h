#pragma once

// A small writer of HTML and inline SVG into a string. An element is open
// while its Element lives and is closed when it is destroyed; attributes
// follow open() until the first child or text. Text and attribute values
// are escaped, numbers are written with a dot and rounded to a set number of
// decimals whatever the locale. The markup is well-formed XML as well as
// HTML: SVG's empty elements close themselves, HTML's get an end tag (or
// none, for the few that never have one).

#include <string>
#include <string_view>
#include <vector>

namespace toneprint {

class MarkupWriter {
 public:
  explicit MarkupWriter(std::string& out, int decimals = 2);

  class Element {
   public:
    Element(Element&& other) noexcept;
    Element(const Element&) = delete;
    Element& operator=(const Element&) = delete;
    Element& operator=(Element&&) = delete;
    ~Element();

   private:
    friend class MarkupWriter;
    explicit Element(MarkupWriter* writer) : writer_(writer) {}
    MarkupWriter* writer_;
  };

  // Opens an SVG element (empty ones close as "<name/>") or an HTML one
  // (empty ones get "</name>", void ones like "meta" nothing).
  [[nodiscard]] Element open(std::string_view name);
  [[nodiscard]] Element open_html(std::string_view name);

  MarkupWriter& attr(std::string_view name, double value);
  MarkupWriter& attr(std::string_view name, int value) {
    return attr(name, static_cast<double>(value));
  }
  MarkupWriter& attr(std::string_view name, std::string_view text);
  MarkupWriter& attr(std::string_view name, const char* text) {
    return attr(name, std::string_view(text));
  }

  void text(std::string_view text);
  // Markup written as it is (the page's doctype and style sheet).
  void raw(std::string_view markup);

  // A whole element: <name>text</name>.
  void element(std::string_view name, std::string_view text);

  // The number as written in attributes.
  std::string number(double value) const;

 private:
  enum class Kind { svg, html, html_void };
  struct Open {
    std::string name;
    Kind kind;
  };
  Element start(std::string_view name, Kind kind);
  void close();
  void end_start_tag();

  std::string& out_;
  int decimals_;
  bool in_start_tag_ = false;
  std::vector<Open> open_;
};

// Text for HTML or XML: & < > escaped, and " too in attributes; control
// characters that XML forbids become U+FFFD.
std::string escape_markup(std::string_view text, bool attribute);

}  // namespace toneprint
