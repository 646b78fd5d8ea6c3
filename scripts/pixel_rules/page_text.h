// The page's own words as the program's test data. Every worked value and example of
// docs/pixel-rules.md (and of the README's rule paragraphs) is an Example: the sentence or table
// row that states it, quoted as it stands on the page, and a check that draws it through the
// engine and compares the drawn pixels with the numbers the quote gives. A quote that the page
// no longer holds word for word fails, and so does a value on the page that no quote covers
// (CheckValuesCovered): a changed value, or a changed setting beside it, fails the program.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "page_model.h"

namespace page {

enum class Doc { kPage, kReadme };

// A quoted statement: its text with white space folded to single spaces, and the numbers in it.
struct Quote {
  std::string text;
  // Every number in the text, in order: hex (0x...), decimal (with a fraction when one follows
  // the point), negative when a '-' or U+2212 minus sign is attached in front of it, as in
  // "(−5, −4)" but not "x − 2". Numbers inside words (XRGB8) are not numbers.
  std::vector<double> numbers;
  std::vector<uint32_t> hex;  // the hex numbers alone, in order
  // The i-th number of the kind; a missing one is reported as a difference of the example, and
  // gives 0.
  uint32_t Hex(size_t i) const;
  int Int(size_t i) const;
  double Num(size_t i) const;
  // The quote's first words, for messages.
  const char* label() const { return label_.c_str(); }

  std::string label_;
  mutable int missing = 0;  // numbers asked for that the quote does not hold
};

// One example: the quote and its check. A check draws what the quote states and compares every
// value it gives (Report::Compare, with q.label() as the what). A null check pins a rule's
// statement (a formula whose constants the rules code uses): it must stand on the page as
// quoted, but nothing is drawn for it.
struct Example {
  Doc doc;
  const char* quote;
  void (*check)(const Quote& q, Report& r);
};

// Examples register themselves at start-up: a file holds one `const ExampleList kName{...};`.
struct ExampleList {
  ExampleList(std::initializer_list<Example> examples);
};

// Where the documents are read from (the repository's by default).
void SetDocumentPath(Doc doc, const std::string& path);
// Every registered example whose quote holds `only` (all when empty): its quote found on its
// document, then its check. Quotes that are not found are differences, printed in full.
void CheckExamples(Report& report, const std::string& only);
// Every statement of the page (and of the README's rule paragraphs) that states a value lies
// inside quotes that CheckExamples found: table rows and sentences holding a hex number, and
// those of examples (the words "example" or "worked", in the statement or in the line before
// its table or the table's heading). Run after CheckExamples.
void CheckValuesCovered(Report& report);

}  // namespace page
