// The documents' quotes and the values they cover (page_text.h).
#include "page_text.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <utility>

#ifndef PIXEL_RULES_ROOT
#define PIXEL_RULES_ROOT "."
#endif

namespace page {

namespace {

// ---- Numbers in a text -------------------------------------------------------------------------

struct Number {
  size_t pos, len;  // the digits, with an attached minus sign
  double value;
  bool hex;
};

bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// The numbers of `s` in order (page_text.h, Quote::numbers).
std::vector<Number> NumbersIn(const std::string& s) {
  std::vector<Number> out;
  static const std::string kMinus = "\xE2\x88\x92";  // U+2212
  size_t i = 0;
  while (i < s.size()) {
    const bool digit = std::isdigit(static_cast<unsigned char>(s[i]));
    if (!digit || (i > 0 && (IsWordChar(s[i - 1]) || s[i - 1] == '.'))) {
      ++i;
      continue;
    }
    size_t start = i, end = i;
    Number n{};
    if (s.compare(i, 2, "0x") == 0 && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
      end = i + 2;
      while (end < s.size() && std::isxdigit(static_cast<unsigned char>(s[end]))) ++end;
      n.value = double(std::strtoull(s.substr(i + 2, end - i - 2).c_str(), nullptr, 16));
      n.hex = true;
    } else {
      while (end < s.size() && std::isdigit(static_cast<unsigned char>(s[end]))) ++end;
      if (end + 1 < s.size() && s[end] == '.' && std::isdigit(static_cast<unsigned char>(s[end + 1])))
        for (++end; end < s.size() && std::isdigit(static_cast<unsigned char>(s[end]));) ++end;
      n.value = std::strtod(s.substr(i, end - i).c_str(), nullptr);
    }
    // A minus sign attached in front, itself not preceded by a word character: "(−5" or "= -1".
    auto signAt = [&](size_t at, size_t len) {
      return start >= len && s.compare(start - len, len, s, at, len) == 0 &&
             (start == len || !IsWordChar(s[start - len - 1]));
    };
    if (start >= 3 && s.compare(start - 3, 3, kMinus) == 0 && signAt(start - 3, 3)) {
      start -= 3;
      n.value = -n.value;
    } else if (start >= 1 && s[start - 1] == '-' && signAt(start - 1, 1)) {
      start -= 1;
      n.value = -n.value;
    }
    n.pos = start;
    n.len = end - start;
    out.push_back(n);
    i = end;
  }
  return out;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// `s` with every run of white space one space, without leading or trailing space; `map`, when
// given, receives for each folded character its offset in `s`.
std::string Fold(const std::string& s, std::vector<size_t>* map) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (IsSpace(s[i])) {
      if (!out.empty() && out.back() != ' ') {
        out.push_back(' ');
        if (map) map->push_back(i);
      }
      continue;
    }
    out.push_back(s[i]);
    if (map) map->push_back(i);
  }
  if (!out.empty() && out.back() == ' ') {
    out.pop_back();
    if (map) map->pop_back();
  }
  return out;
}

// ---- The documents -----------------------------------------------------------------------------

struct Document {
  Document(const char* n, std::string p, const char* f, const char* l)
      : name(n), path(std::move(p)), first(f), last(l) {}
  const char* name;
  std::string path;
  // The part that CheckValuesCovered reads: from the line that begins with `first` up to the
  // line that begins with `last` (empty: the whole document).
  const char* first;
  const char* last;
  bool loaded = false, failed = false;
  std::string raw, folded;
  std::vector<size_t> map;     // folded offset -> raw offset
  std::vector<bool> covered;   // raw characters inside a quote that was found

  bool Load() {
    if (loaded || failed) return loaded;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      failed = true;
      std::printf("    %s: cannot read %s\n", name, path.c_str());
      return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    raw = text.str();
    folded = Fold(raw, &map);
    covered.assign(raw.size(), false);
    loaded = true;
    return true;
  }
  // Marks every place the folded quote stands; false when it stands nowhere.
  bool Cover(const std::string& quote) {
    bool found = false;
    for (size_t at = folded.find(quote); at != std::string::npos; at = folded.find(quote, at + 1)) {
      found = true;
      for (size_t i = map[at]; i <= map[at + quote.size() - 1]; ++i) covered[i] = true;
    }
    return found;
  }
  // The longest beginning of the quote that the document holds, for the message of a quote that
  // is not found.
  size_t LongestPrefix(const std::string& quote) const {
    size_t lo = 0, hi = quote.size();
    while (lo < hi) {
      const size_t mid = (lo + hi + 1) / 2;
      if (folded.find(quote.substr(0, mid)) != std::string::npos) lo = mid;
      else hi = mid - 1;
    }
    return lo;
  }
};

Document& DocumentOf(page::Doc d) {
  static Document page{"docs/pixel-rules.md", PIXEL_RULES_ROOT "/docs/pixel-rules.md", "", ""};
  static Document readme{"README.md", PIXEL_RULES_ROOT "/README.md", "**Blend rules, 32-bit",
                         "The other drawers take"};
  return d == page::Doc::kPage ? page : readme;
}

std::vector<Example>& Registry() {
  static std::vector<Example> examples;
  return examples;
}

Quote MakeQuote(const std::string& folded) {
  Quote q;
  q.text = folded;
  for (const Number& n : NumbersIn(folded)) {
    q.numbers.push_back(n.value);
    if (n.hex) q.hex.push_back(uint32_t(n.value));
  }
  q.label_ = folded.size() > 72 ? folded.substr(0, 69) + "..." : folded;
  return q;
}

// ---- Statements that state values --------------------------------------------------------------

bool Mentions(const std::string& s, const char* word) {
  std::string lower(s);
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  return lower.find(word) != std::string::npos;
}
bool IsExampleText(const std::string& s) { return Mentions(s, "example") || Mentions(s, "worked"); }

struct Statement {
  size_t begin, end;  // raw offsets
  bool example;       // an example by its table's heading or the line before the table
};

// The statements of [begin, end) of the document: table rows (the header row left out) and the
// sentences of paragraphs and list items; headings and code blocks left out.
std::vector<Statement> Statements(const std::string& raw, size_t begin, size_t end) {
  std::vector<Statement> out;
  std::vector<std::pair<size_t, size_t>> lines;
  for (size_t at = begin; at < end;) {
    size_t eol = raw.find('\n', at);
    if (eol == std::string::npos || eol > end) eol = end;
    lines.push_back({at, eol});
    at = eol + 1;
  }
  auto text = [&](size_t i) { return raw.substr(lines[i].first, lines[i].second - lines[i].first); };
  auto blank = [&](size_t i) { return Fold(text(i), nullptr).empty(); };
  size_t i = 0;
  while (i < lines.size()) {
    const std::string line = text(i);
    if (blank(i) || line[0] == '#') {
      ++i;
      continue;
    }
    if (line.compare(0, 4, "    ") == 0 && (i == 0 || blank(i - 1))) {  // a code block
      while (i < lines.size() && (blank(i) || text(i).compare(0, 4, "    ") == 0)) ++i;
      continue;
    }
    if (line[0] == '|') {  // a table: the header row, the rule row, the body rows
      bool example = IsExampleText(line);
      for (size_t j = i; j-- > 0;)
        if (!blank(j)) {
          example = example || IsExampleText(text(j));
          break;
        }
      for (size_t row = i; i < lines.size() && text(i)[0] == '|'; ++i)
        if (i > row + 1) out.push_back({lines[i].first, lines[i].second, example});
      continue;
    }
    // A paragraph or list item: up to a blank line, a table, a heading or the next item.
    const size_t first = i;
    auto item = [&](const std::string& l) {
      const std::string f = Fold(l, nullptr);
      size_t d = 0;
      while (d < f.size() && std::isdigit(static_cast<unsigned char>(f[d]))) ++d;
      return f.compare(0, 2, "- ") == 0 || (d > 0 && f.compare(d, 2, ". ") == 0);
    };
    for (++i; i < lines.size() && !blank(i) && text(i)[0] != '|' && text(i)[0] != '#' && !item(text(i));)
      ++i;
    // Sentences end at a point followed by white space and a capital, a backquote or a star.
    size_t start = lines[first].first;
    const size_t stop = lines[i - 1].second;
    for (size_t at = start; at < stop; ++at) {
      if (raw[at] != '.' || at + 2 >= stop || !IsSpace(raw[at + 1])) continue;
      size_t next = at + 1;
      while (next < stop && IsSpace(raw[next])) ++next;
      const char c = raw[next];
      if (std::isupper(static_cast<unsigned char>(c)) || c == '`' || c == '*') {
        out.push_back({start, at + 1, false});
        start = next;
      }
    }
    out.push_back({start, stop, false});
  }
  return out;
}

// 1-based line of a raw offset.
int LineOf(const std::string& raw, size_t at) {
  int line = 1;
  for (size_t i = 0; i < at && i < raw.size(); ++i) line += raw[i] == '\n';
  return line;
}

}  // namespace

uint32_t Quote::Hex(size_t i) const {
  if (i < hex.size()) return hex[i];
  ++missing;
  return 0;
}
double Quote::Num(size_t i) const {
  if (i < numbers.size()) return numbers[i];
  ++missing;
  return 0;
}
int Quote::Int(size_t i) const { return int(Num(i)); }

ExampleList::ExampleList(std::initializer_list<Example> examples) {
  Registry().insert(Registry().end(), examples.begin(), examples.end());
}

void SetDocumentPath(page::Doc doc, const std::string& path) { DocumentOf(doc).path = path; }

void CheckExamples(Report& report, const std::string& only) {
  for (const Example& e : Registry()) {
    Document& doc = DocumentOf(e.doc);
    const std::string folded = Fold(e.quote, nullptr);
    if (!only.empty() && folded.find(only) == std::string::npos) continue;
    if (!doc.Load()) {
      ++report.differences;
      continue;
    }
    if (!doc.Cover(folded)) {
      ++report.differences;
      const size_t n = doc.LongestPrefix(folded);
      std::printf("    %s no longer says \"%s\"\n      (it says the first %zu characters, up to \"%s\")\n",
                  doc.name, folded.c_str(), n, folded.substr(n > 30 ? n - 30 : 0, n > 30 ? 30 : n).c_str());
      continue;
    }
    if (!e.check) continue;
    const Quote q = MakeQuote(folded);
    e.check(q, report);
    if (q.missing) {
      ++report.differences;
      std::printf("    %s: the check asks for %d number(s) more than \"%s\" holds\n", doc.name,
                  q.missing, q.label());
    }
  }
}

void CheckValuesCovered(Report& report) {
  for (page::Doc d : {page::Doc::kPage, page::Doc::kReadme}) {
    Document& doc = DocumentOf(d);
    if (!doc.Load()) {
      ++report.differences;
      continue;
    }
    size_t begin = 0, end = doc.raw.size();
    if (*doc.first) {
      begin = doc.raw.find(std::string("\n") + doc.first);
      end = doc.raw.find(std::string("\n") + doc.last, begin == std::string::npos ? 0 : begin);
      if (begin == std::string::npos || end == std::string::npos) {
        ++report.differences;
        std::printf("    %s: no part from \"%s\" to \"%s\"\n", doc.name, doc.first, doc.last);
        continue;
      }
    }
    for (const Statement& s : Statements(doc.raw, begin, end)) {
      const std::string text = doc.raw.substr(s.begin, s.end - s.begin);
      const std::vector<Number> numbers = NumbersIn(text);
      bool hex = false;
      for (const Number& n : numbers) hex = hex || n.hex;
      if (!hex && !s.example && !IsExampleText(text)) continue;
      ++report.pixels;  // one statement that states values, checked
      for (const Number& n : numbers) {
        bool inside = true;
        for (size_t i = 0; i < n.len; ++i) inside = inside && doc.covered[s.begin + n.pos + i];
        if (inside) continue;
        ++report.differences;
        std::printf("    %s:%d: no example quotes \"%s\" (its %s)\n", doc.name,
                    LineOf(doc.raw, s.begin + n.pos), Fold(text, nullptr).c_str(),
                    text.substr(n.pos, n.len).c_str());
        break;
      }
    }
  }
}

}  // namespace page
