#pragma once

// What the HTML pages' tests read them with: their tags, whether every tag
// is closed, and the page as Chromium has parsed it.

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace toneprint::test {

// A tag of the page: its name, its attributes, and the text that follows
// it up to the next tag. Read by hand, as std::regex's recursion
// overflows the Windows stack on the long paths.
struct Tag {
  std::string whole;  // between < and >
  std::string name;   // "/g" for an end tag
  std::map<std::string, std::string> a;
  std::string text;
  double number(const char* key) const { return std::stod(a.at(key)); }
  std::string attr(const char* key) const { return a.count(key) ? a.at(key) : std::string(); }
};

inline std::vector<Tag> tags(const std::string& page) {
  std::vector<Tag> all;
  for (std::size_t at = page.find('<'); at != std::string::npos; at = page.find('<', at + 1)) {
    const std::size_t close = page.find('>', at);
    Tag tag;
    tag.whole = page.substr(at + 1, close - at - 1);
    tag.name = tag.whole.substr(0, tag.whole.find_first_of(" /", 1));
    for (std::size_t eq = tag.whole.find("=\""); eq != std::string::npos;
         eq = tag.whole.find("=\"", eq + 1)) {
      const std::size_t key = tag.whole.rfind(' ', eq) + 1, end = tag.whole.find('"', eq + 2);
      tag.a[tag.whole.substr(key, eq - key)] = tag.whole.substr(eq + 2, end - eq - 2);
      eq = end;
    }
    tag.text = page.substr(close + 1, page.find('<', close) - close - 1);
    all.push_back(std::move(tag));
  }
  return all;
}

// Every start tag has its end tag, in order (the page has no comments and
// its style sheet no '<').
inline bool balanced(const std::string& page) {
  std::vector<std::string> open;
  for (std::size_t at = page.find('<'); at != std::string::npos; at = page.find('<', at + 1)) {
    if (page.compare(at, 2, "<!") == 0) continue;
    const std::size_t close = page.find('>', at);
    if (close == std::string::npos) return false;
    const std::string tag = page.substr(at + 1, close - at - 1);
    const std::string name = tag.substr(0, tag.find_first_of(" /"));
    if (tag.front() == '/') {
      if (open.empty() || open.back() != tag.substr(1)) return false;
      open.pop_back();
    } else if (tag.back() != '/') {
      open.push_back(name);
    }
  }
  return open.empty();
}

// Why Chromium cannot show a page here, or empty where it can: the browser
// tests run where Debian's chromium is installed.
inline std::string without_chromium() {
#if defined(_WIN32)
  return "the browser tests run where Debian's chromium does";
#else
  return std::filesystem::exists("/usr/bin/chromium")
             ? std::string()
             : "Chromium is not installed (Debian's chromium package)";
#endif
}

// The document as Chromium has parsed it; empty when it could not run. Its
// profile goes to a folder of the test's own, its shared memory to /tmp
// (a container's /dev/shm can be too small).
inline std::string rendered(const TempDir& dir, const std::string& page) {
  const std::string dom = dir.file("dom");
  const std::string command =
      std::string("timeout 120 chromium --headless --no-sandbox --disable-gpu ")
          .append("--disable-dev-shm-usage --user-data-dir=\"")
          .append(dir.file("profile"))
          .append("\" --dump-dom \"file://")
          .append(page)
          .append("\" > \"")
          .append(dom)
          .append("\" 2>/dev/null");
  return std::system(command.c_str()) == 0 ? test::read_file(dom) : std::string();
}

}  // namespace toneprint::test
