#include "engine/table/string_collator.h"

#include <unicode/coll.h>
#include <unicode/locid.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "engine/table/ansi_text.h"

namespace rzv {

namespace {

std::string CollationLocaleName() {
  for (const char* name : {"LC_ALL", "LC_COLLATE", "LANG"}) {
    const char* v = std::getenv(name);
    if (v && *v) {
      std::string base(v);
      base = base.substr(0, base.find_first_of(".@"));
      return base == "C" || base == "POSIX" ? "" : base;
    }
  }
  return "";
}

std::unique_ptr<icu::Collator> MakeCollator(bool case_insensitive) {
  UErrorCode status = U_ZERO_ERROR;
  const std::string name = CollationLocaleName();
  std::unique_ptr<icu::Collator> c(icu::Collator::createInstance(
      name.empty() ? icu::Locale::getRoot() : icu::Locale(name.c_str()), status));
  if (U_FAILURE(status) || !c) return nullptr;
  c->setAttribute(UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, status);
  c->setStrength(case_insensitive ? icu::Collator::SECONDARY : icu::Collator::TERTIARY);
  return c;
}

// Collators are not shared between threads; each thread clones its own.
icu::Collator* ThreadCollator(bool case_insensitive) {
  thread_local std::unique_ptr<icu::Collator> collators[2] = {MakeCollator(false),
                                                              MakeCollator(true)};
  return collators[case_insensitive ? 1 : 0].get();
}

int Sign(int v) {
  return v < 0 ? -1 : v > 0 ? 1 : 0;
}

}  // namespace

int RzvStringCollator::Compare(std::u16string_view a, std::u16string_view b,
                               bool case_insensitive) {
  icu::Collator* c = ThreadCollator(case_insensitive);
  if (!c) return Sign(a.compare(b));
  UErrorCode status = U_ZERO_ERROR;
  const UCollationResult r = c->compare(a.data(), static_cast<int32_t>(a.size()), b.data(),
                                        static_cast<int32_t>(b.size()), status);
  if (U_FAILURE(status)) return Sign(a.compare(b));
  return r == UCOL_LESS ? -1 : r == UCOL_GREATER ? 1 : 0;
}

int RzvStringCollator::CompareAnsi(std::string_view a, std::string_view b, bool case_insensitive) {
  return Compare(RzvAnsiToWide(a), RzvAnsiToWide(b), case_insensitive);
}

}  // namespace rzv
